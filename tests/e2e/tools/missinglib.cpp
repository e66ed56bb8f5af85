// A library the managed program's "cannot load" build imports from; it is never installed
// beside that program, so Windows' loader refuses to start it.
extern "C" __declspec(dllexport) int missing_library_function() { return 7; }
