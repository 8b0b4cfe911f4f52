// icon-probe: how Windows' own functions read a setup's icon and version
// information.
//
//   icon-probe SETUP.exe ICON.ico TRANSCRIPT
//
// Writes to TRANSCRIPT (UTF-8):
//   groups: 101            the icon groups of the file
//   icon N: same|differs   group 101 loaded at N pixels (16, 32, 48, 256, and
//                          "loadicon" as the dialog's window class gets it),
//                          against the .ico loaded from its file
//   KEY: VALUE             the version information: "file" and "product"
//                          from the fixed part, "translation", then the strings
// Exits with 1 when a call failed.
#include <stdio.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

FILE* transcript;
int status = 0;

std::string Utf8(const wchar_t* text) {
  char out[1024];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
  return n > 0 ? std::string(out, static_cast<size_t>(n - 1)) : std::string();
}

void Line(const std::string& text) { fprintf(transcript, "%s\n", text.c_str()); }

// The icon drawn as 32-bit pixels: its colour bitmap, then its mask.
std::vector<DWORD> Pixels(HICON icon) {
  std::vector<DWORD> out;
  ICONINFO info;
  if (!icon || !GetIconInfo(icon, &info)) return out;
  BITMAP bm;
  GetObject(info.hbmMask, sizeof bm, &bm);
  int w = bm.bmWidth, h = info.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
  HDC dc = GetDC(nullptr);
  for (HBITMAP bitmap : {info.hbmColor, info.hbmMask}) {
    if (!bitmap) continue;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    std::vector<DWORD> rows(static_cast<size_t>(w) * h);
    GetDIBits(dc, bitmap, 0, static_cast<UINT>(h), rows.data(), &bi, DIB_RGB_COLORS);
    out.insert(out.end(), rows.begin(), rows.end());
    DeleteObject(bitmap);
  }
  ReleaseDC(nullptr, dc);
  return out;
}

BOOL CALLBACK OnGroup(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) {
  std::string& text = *reinterpret_cast<std::string*>(list);
  text += (text.empty() ? "" : " ") +
          (IS_INTRESOURCE(name) ? std::to_string(reinterpret_cast<uintptr_t>(name)) : Utf8(name));
  return TRUE;
}

std::string Version(DWORD ms, DWORD ls) {
  return std::to_string(HIWORD(ms)) + "." + std::to_string(LOWORD(ms)) + "." +
         std::to_string(HIWORD(ls)) + "." + std::to_string(LOWORD(ls));
}

void VersionInformation(const wchar_t* path) {
  DWORD ignored = 0, size = GetFileVersionInfoSizeW(path, &ignored);
  std::vector<BYTE> block(size);
  if (size == 0 || !GetFileVersionInfoW(path, 0, size, block.data())) {
    Line("version: none");
    return;
  }
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", &value, &length)) {
    auto* fixed = static_cast<VS_FIXEDFILEINFO*>(value);
    Line("file: " + Version(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
    Line("product: " + Version(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
  }
  if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length)) {
    auto* words = static_cast<WORD*>(value);
    Line("translation: " + std::to_string(words[0]) + "/" + std::to_string(words[1]));
  }
  for (const wchar_t* key : {L"CompanyName", L"FileDescription", L"FileVersion", L"LegalCopyright",
                             L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904E4\\") + key;
    if (VerQueryValueW(block.data(), query.c_str(), &value, &length)) {
      Line(Utf8(key) + ": " + Utf8(static_cast<wchar_t*>(value)));
    }
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4 || !(transcript = _wfopen(argv[3], L"wb"))) return 2;
  HMODULE module =
      LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) {
    Line("failed: LoadLibraryEx");
    return 1;
  }
  std::string groups;
  EnumResourceNamesW(module, MAKEINTRESOURCEW(14), OnGroup, reinterpret_cast<LONG_PTR>(&groups));
  Line("groups: " + groups);
  int large = GetSystemMetrics(SM_CXICON);
  for (int size : {16, 32, 48, 256, 0}) {
    int n = size ? size : large;
    HICON branded =
        size ? static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(101), IMAGE_ICON, n, n, 0))
             : LoadIconW(module, MAKEINTRESOURCEW(101));
    HICON expected =
        static_cast<HICON>(LoadImageW(nullptr, argv[2], IMAGE_ICON, n, n, LR_LOADFROMFILE));
    std::vector<DWORD> a = Pixels(branded), b = Pixels(expected);
    if (a.empty()) status = 1;
    Line((size ? "icon " + std::to_string(size) : std::string("icon loadicon")) +
         (!a.empty() && a == b ? ": same" : ": differs"));
  }
  FreeLibrary(module);
  VersionInformation(argv[1]);
  fclose(transcript);
  return status;
}
