// A version.dll as someone might plant it beside the stand-in installer: it
// offers the one function the stand-in imports, and does nothing else, so
// that a test sees from the stand-in's module list whether it was loaded.
// (Declared without the system headers, whose declaration is an import.)
extern "C" __declspec(dllexport) unsigned long __stdcall GetFileVersionInfoSizeW(const wchar_t*,
                                                                                unsigned long* handle) {
    if (handle != nullptr) *handle = 0;
    return 0;
}
