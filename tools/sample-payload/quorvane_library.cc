// The sample payload's shared library: the installer only unpacks, secures
// and verifies it next to the executable, so one exported symbol suffices.
extern "C" const char* quorvane_sample_library_name() { return "quorvane sample library"; }
