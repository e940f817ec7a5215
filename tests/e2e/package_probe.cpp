// Reads back what the installer and the build produced, through the Windows
// API a shell or Explorer uses, and prints it as one line of JSON (UTF-8):
//
//   package-probe lnk FILE.lnk     target, working folder, arguments, icon
//   package-probe version FILE.exe fixed and string version information,
//                                  translations, and the RT_MANIFEST text
//
// Exit code 0 on success; 1 with a reason on stderr otherwise.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

namespace {

std::string utf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr,
                        nullptr);
    return out;
}

// A JSON string literal of UTF-8 bytes.
std::string quoted(const std::string &bytes)
{
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            wsprintfA(escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string quoted(const std::wstring &text)
{
    return quoted(utf8(text));
}

void emit(const std::string &line)
{
    std::string out = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
}

int fail(const char *what, HRESULT code)
{
    char text[160];
    wsprintfA(text, "package-probe: %s failed (0x%08lx)\n", what, static_cast<unsigned long>(code));
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, lstrlenA(text), &written, nullptr);
    return 1;
}

int probeShortcut(const wchar_t *path)
{
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(result))
        return fail("CoInitializeEx", result);
    IShellLinkW *link = nullptr;
    result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void **>(&link));
    if (FAILED(result)) {
        CoUninitialize();
        return fail("CoCreateInstance(ShellLink)", result);
    }
    IPersistFile *file = nullptr;
    result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file));
    if (SUCCEEDED(result))
        result = file->Load(path, STGM_READ);
    int status = 0;
    if (FAILED(result)) {
        status = fail("IPersistFile::Load", result);
    } else {
        wchar_t target[MAX_PATH] = {}, directory[MAX_PATH] = {}, arguments[1024] = {}, icon[MAX_PATH] = {};
        int iconIndex = -1;
        // SLGP_RAWPATH: the path as stored, without resolving or expanding it.
        link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
        link->GetWorkingDirectory(directory, MAX_PATH);
        link->GetArguments(arguments, 1024);
        link->GetIconLocation(icon, MAX_PATH, &iconIndex);
        emit("{\"path\": " + quoted(target) + ", \"workdir\": " + quoted(directory) +
             ", \"arguments\": " + quoted(arguments) + ", \"icon\": " + quoted(icon) +
             ", \"icon_index\": " + std::to_string(iconIndex) + "}");
    }
    if (file)
        file->Release();
    link->Release();
    CoUninitialize();
    return status;
}

std::string versionNumber(DWORD high, DWORD low)
{
    return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) +
           "." + std::to_string(LOWORD(low));
}

std::string manifestText(const wchar_t *path)
{
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module)
        return std::string();
    std::string text;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    if (found) {
        HGLOBAL loaded = LoadResource(module, found);
        const char *bytes = static_cast<const char *>(LockResource(loaded));
        if (bytes)
            text.assign(bytes, SizeofResource(module, found));
    }
    FreeLibrary(module);
    return text;
}

int probeVersion(const wchar_t *path)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0)
        return fail("GetFileVersionInfoSizeW", HRESULT_FROM_WIN32(GetLastError()));
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(path, 0, size, data.data()))
        return fail("GetFileVersionInfoW", HRESULT_FROM_WIN32(GetLastError()));

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void **>(&fixed), &length) || length < sizeof *fixed)
        return fail("VerQueryValueW(\\)", E_FAIL);
    std::string json = "{\"signature\": " + std::to_string(fixed->dwSignature) +
                       ", \"file_version\": " + quoted(versionNumber(fixed->dwFileVersionMS, fixed->dwFileVersionLS)) +
                       ", \"product_version\": " +
                       quoted(versionNumber(fixed->dwProductVersionMS, fixed->dwProductVersionLS)) +
                       ", \"file_os\": " + std::to_string(fixed->dwFileOS) +
                       ", \"file_type\": " + std::to_string(fixed->dwFileType) +
                       ", \"file_flags\": " + std::to_string(fixed->dwFileFlags & fixed->dwFileFlagsMask);

    struct Translation { WORD language, codePage; };
    Translation *translations = nullptr;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translations),
                        &length))
        length = 0;
    const wchar_t *const names[] = {L"CompanyName",    L"FileDescription",  L"FileVersion", L"InternalName",
                                    L"LegalCopyright", L"OriginalFilename", L"ProductName", L"ProductVersion"};
    std::string translationList, blocks;
    for (UINT i = 0; i < length / sizeof(Translation); ++i) {
        wchar_t block[16];
        wsprintfW(block, L"%04x%04x", translations[i].language, translations[i].codePage);
        translationList += std::string(i ? ", " : "") + "[" + std::to_string(translations[i].language) + ", " +
                           std::to_string(translations[i].codePage) + "]";
        std::string fields;
        for (const wchar_t *name : names) {
            std::wstring query = std::wstring(L"\\StringFileInfo\\") + block + L"\\" + name;
            wchar_t *value = nullptr;
            UINT valueLength = 0;
            if (VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void **>(&value), &valueLength) && value)
                fields += std::string(fields.empty() ? "" : ", ") + quoted(name) + ": " + quoted(value);
        }
        blocks += std::string(i ? ", " : "") + quoted(block) + ": {" + fields + "}";
    }
    json += ", \"translations\": [" + translationList + "], \"strings\": {" + blocks + "}";
    json += ", \"manifest\": " + quoted(manifestText(path)) + "}";
    emit(json);
    return 0;
}

}  // namespace

int main()
{
    int count = 0;
    wchar_t **words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!words || count != 3)
        return fail("usage: package-probe lnk|version FILE;", E_INVALIDARG);
    std::wstring command = words[1];
    int status = command == L"lnk"       ? probeShortcut(words[2])
                 : command == L"version" ? probeVersion(words[2])
                                         : fail("unknown command;", E_INVALIDARG);
    LocalFree(words);
    return status;
}
