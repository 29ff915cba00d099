// A library that one variant of the stand-in jvm.dll imports; tests keep it
// only in the runtime directory, so that variant loads only when the
// launcher makes that directory a loader search location.
extern "C" __declspec(dllexport) int jvmdep_answer() { return 42; }
