// Test stand-in for Windows PowerShell, which Wine does not have (its powershell.exe does
// nothing). It lies next to the test programs, so the launcher's CreateProcessW("powershell.exe
// ...") finds it first. Never shipped.
//
// It accepts exactly the command line of the launcher's two jobs, with its own copy of the two
// script texts (a changed script in the launcher fails the tests), and does the job itself:
//   download  WinHTTP, TLS 1.2 only: VORNA380_DOWNLOAD_URL into VORNA380_DOWNLOAD_DEST after
//             deleting an existing file there; a status outside 2xx or a body shorter than its
//             Content-Length fails (a partial file may stay)
//   extract   VORNA380_STAGING_PATH removed whole and created again, then the zip archive
//             VORNA380_PACKAGE_PATH expanded into it (stored and deflated entries, zlib, no
//             zip64); an entry that would land outside the folder (absolute, drive, "..") or a
//             link entry fails the job, and an entry is stopped at its declared size; the exit
//             codes are the script's: 2 folder, 3 archive, 4 refused, 5 oversized, 6 not written
// Anything else exits 1. VORNA380_STANDIN_FAULT makes it misbehave, for fault tests:
//   fail       exit 1 right after the preparatory step (old destination deleted, folder emptied)
//   partial    write the first half of the body (or of the entries), then exit 1
//   stall=MS   write the first half, wait MS milliseconds, then finish normally
#include <windows.h>
#include <winhttp.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {
const wchar_t k_prefix[] = L"powershell.exe -NoLogo -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \"";
const wchar_t k_download[] =
    L"$ErrorActionPreference='Stop';$ProgressPreference='SilentlyContinue';[Net.ServicePointManager]::Secu"
    L"rityProtocol=[Net.SecurityProtocolType]::Tls12;if(Test-Path -LiteralPath $env:VORNA380_DOWNLOAD_DEST"
    L"){Remove-Item -LiteralPath $env:VORNA380_DOWNLOAD_DEST -Force};Invoke-WebRequest -UseBasicParsing -U"
    L"ri $env:VORNA380_DOWNLOAD_URL -OutFile $env:VORNA380_DOWNLOAD_DEST";
const wchar_t k_extract[] =
    L"$ErrorActionPreference='Stop';$s=$env:VORNA380_STAGING_PATH;try{if(Test-Path -LiteralPath $s){Remove"
    L"-Item -LiteralPath $s -Recurse -Force};[void][IO.Directory]::CreateDirectory($s)}catch{exit 2};try{A"
    L"dd-Type -AssemblyName System.IO.Compression.FileSystem;$z=[IO.Compression.ZipFile]::OpenRead($env:VO"
    L"RNA380_PACKAGE_PATH)}catch{exit 3};$r=[IO.Path]::GetFullPath($s).TrimEnd('\\')+'\\';$b=New-Object byte"
    L"[] 1048576;$c=0;try{foreach($e in $z.Entries){$c=4;$t=[IO.Path]::GetFullPath([IO.Path]::Combine($r,$"
    L"e.FullName));if(-not $t.StartsWith($r,[StringComparison]::OrdinalIgnoreCase)){break};$c=6;if($e.Name"
    L" -eq ''){[void][IO.Directory]::CreateDirectory($t);$c=0;continue};[void][IO.Directory]::CreateDirect"
    L"ory([IO.Path]::GetDirectoryName($t));$i=$e.Open();$o=[IO.File]::Create($t);$n=[long]0;try{while(($k="
    L"$i.Read($b,0,$b.Length)) -gt 0){$n+=$k;if($n -gt $e.Length){break};$o.Write($b,0,$k)}}finally{$o.Dis"
    L"pose();$i.Dispose()};if($n -gt $e.Length){$c=5;break};if($n -ne $e.Length){break};$c=0}}catch{if($c "
    L"-eq 0){$c=6}}finally{$z.Dispose()};exit $c";

constexpr DWORD BLOCK = 1 << 20;

enum class fault { none, fail, partial, stall };
fault g_fault = fault::none;
DWORD g_stall_ms = 0;

void read_fault() {
  wchar_t value[64];
  DWORD length = GetEnvironmentVariableW(L"VORNA380_STANDIN_FAULT", value, 64);
  if (length == 0 || length >= 64) return;
  std::wstring text(value, length);
  if (text == L"fail") g_fault = fault::fail;
  if (text == L"partial") g_fault = fault::partial;
  if (text.rfind(L"stall=", 0) == 0) {
    g_fault = fault::stall;
    g_stall_ms = static_cast<DWORD>(wcstoul(text.c_str() + 6, nullptr, 10));
  }
}

// At the half-way point of a job: 0 to go on, 1 to stop with a failure.
int halfway() {
  if (g_fault == fault::partial) return 1;
  if (g_fault == fault::stall) Sleep(g_stall_ms);
  return 0;
}

std::wstring variable(const wchar_t* name) {
  std::vector<wchar_t> value(32768);
  DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  return length > 0 && length < value.size() ? std::wstring(value.data(), length) : std::wstring();
}

bool write_all(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size;
}

bool remove_tree(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str());
  }
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L".." && !remove_tree(path + L"\\" + name)) {
          FindClose(find);
          return false;
        }
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
  }
  return RemoveDirectoryW(path.c_str());
}

bool make_folders(const std::wstring& path) {
  DWORD existing = GetFileAttributesW(path.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY)) return true;
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
  }
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int download() {
  std::wstring url = variable(L"VORNA380_DOWNLOAD_URL");
  std::wstring destination = variable(L"VORNA380_DOWNLOAD_DEST");
  if (url.empty() || destination.empty()) return 1;
  if (GetFileAttributesW(destination.c_str()) != INVALID_FILE_ATTRIBUTES && !DeleteFileW(destination.c_str())) {
    return 1;
  }
  if (g_fault == fault::fail) return 1;

  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return 1;
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                      std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

  int result = 1;
  HINTERNET session = WinHttpOpen(L"WindowsPowerShell/5.1 (Vorna380 test stand-in)", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  HANDLE file = INVALID_HANDLE_VALUE;
  std::vector<unsigned char> buffer(BLOCK);
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
  DWORD redirects = 5;
  DWORD status = 0;
  DWORD size = sizeof status;
  wchar_t length_text[32];
  DWORD length_size = sizeof length_text;
  uint64_t expected = 0;
  bool known_length = false;
  uint64_t total = 0;
  bool stopped = false;
  if (session == nullptr) goto done;
  WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
  WinHttpSetOption(session, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects, sizeof redirects);
  connection = WinHttpConnect(session, host.c_str(), parts.nPort, 0);
  if (connection == nullptr) goto done;
  request = WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                               WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0);
  if (request == nullptr || !WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, nullptr, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, nullptr) ||
      !WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                           &status, &size, WINHTTP_NO_HEADER_INDEX) ||
      status < 200 || status > 299) {
    goto done;
  }
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, length_text,
                          &length_size, WINHTTP_NO_HEADER_INDEX)) {
    known_length = true;
    expected = _wcstoui64(length_text, nullptr, 10);
  }
  file = CreateFileW(destination.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
  if (file == INVALID_HANDLE_VALUE) goto done;
  for (;;) {
    DWORD got = 0;
    if (!WinHttpReadData(request, buffer.data(), BLOCK, &got)) goto done;
    if (got == 0) break;
    if (!stopped && known_length && total < expected / 2 && total + got >= expected / 2) {
      DWORD first = static_cast<DWORD>(expected / 2 - total);
      if (!write_all(file, buffer.data(), first)) goto done;
      FlushFileBuffers(file);
      if (halfway()) goto done;
      stopped = true;
      if (!write_all(file, buffer.data() + first, got - first)) goto done;
    } else if (!write_all(file, buffer.data(), got)) {
      goto done;
    }
    total += got;
  }
  result = (known_length && total != expected) ? 1 : 0;

done:
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (request != nullptr) WinHttpCloseHandle(request);
  if (connection != nullptr) WinHttpCloseHandle(connection);
  if (session != nullptr) WinHttpCloseHandle(session);
  return result;
}

// The zip archive, read through its central directory.
struct archive {
  HANDLE file = INVALID_HANDLE_VALUE;
  ~archive() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  bool read_at(uint64_t offset, void* data, DWORD size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, data, size, &got, nullptr) && got == size;
  }
};

uint16_t u16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const unsigned char* p) { return u16(p) | static_cast<uint32_t>(u16(p + 2)) << 16; }

struct entry {
  std::wstring name;
  uint16_t method;
  uint32_t crc;
  uint32_t packed;
  uint32_t size;
  uint32_t local_offset;
  bool is_link;
};

// A name that stays inside the folder: relative, no drive, no ".." element.
bool safe_name(const std::wstring& name) {
  if (name.empty() || name[0] == L'/' || name[0] == L'\\' || name.find(L':') != std::wstring::npos) return false;
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == L'/' || name[i] == L'\\') {
      if (name.compare(start, i - start, L"..") == 0 && i - start == 2) return false;
      start = i + 1;
    }
  }
  return true;
}

bool read_directory(archive& zip, std::vector<entry>* entries) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(zip.file, &size) || size.QuadPart < 22) return false;
  uint64_t total = static_cast<uint64_t>(size.QuadPart);
  DWORD tail_size = static_cast<DWORD>(total < 65557 ? total : 65557);
  std::vector<unsigned char> tail(tail_size);
  if (!zip.read_at(total - tail_size, tail.data(), tail_size)) return false;
  const unsigned char* end = nullptr;
  for (DWORD i = tail_size - 22 + 1; i-- > 0;) {
    if (u32(&tail[i]) == 0x06054b50) {
      end = &tail[i];
      break;
    }
  }
  if (end == nullptr) return false;
  uint16_t count = u16(end + 10);
  uint32_t directory_size = u32(end + 12);
  uint32_t directory_offset = u32(end + 16);
  if (count == 0xFFFF || directory_offset == 0xFFFFFFFF) return false;  // zip64: not needed by the tests
  std::vector<unsigned char> directory(directory_size);
  if (directory_size > 0 && !zip.read_at(directory_offset, directory.data(), directory_size)) return false;
  size_t at = 0;
  for (uint16_t i = 0; i < count; ++i) {
    if (at + 46 > directory.size() || u32(&directory[at]) != 0x02014b50) return false;
    const unsigned char* header = &directory[at];
    uint16_t name_length = u16(header + 28);
    size_t next = at + 46 + name_length + u16(header + 30) + u16(header + 32);
    if (next > directory.size()) return false;
    UINT code_page = (u16(header + 8) & 0x0800) ? CP_UTF8 : 437;
    std::wstring name(name_length, L'\0');
    int units = MultiByteToWideChar(code_page, 0, reinterpret_cast<const char*>(header + 46), name_length, name.data(),
                                    name_length);
    if (name_length > 0 && units <= 0) return false;
    name.resize(static_cast<size_t>(units));
    uint32_t mode = u32(header + 38) >> 16;
    bool from_unix = (u16(header + 4) >> 8) == 3;
    entries->push_back({name, u16(header + 10), u32(header + 16), u32(header + 20), u32(header + 24), u32(header + 42),
                        from_unix && (mode & 0170000) == 0120000});
    at = next;
  }
  return true;
}

// Buffers for reading and inflating, made once per archive.
struct buffers {
  std::vector<unsigned char> in = std::vector<unsigned char>(BLOCK);
  std::vector<unsigned char> out = std::vector<unsigned char>(BLOCK);
};

constexpr int EXTRACT_REFUSED = 4, EXTRACT_OVERSIZED = 5, EXTRACT_UNWRITTEN = 6;

// Writes the produced bytes unless they take the entry past its declared size.
int keep_bytes(HANDLE out, const unsigned char* data, DWORD size, const entry& item, uint64_t* written, uLong* crc) {
  if (size > item.size - *written) return EXTRACT_OVERSIZED;
  *crc = crc32(*crc, data, size);
  *written += size;
  return write_all(out, data, size) ? 0 : EXTRACT_UNWRITTEN;
}

int extract_entry(archive& zip, const entry& item, const std::wstring& staging, buffers& work) {
  std::wstring target = staging;
  for (wchar_t c : item.name) target += c == L'/' ? L'\\' : c;
  if (!target.empty() && target.back() == L'\\') {
    return make_folders(target.substr(0, target.size() - 1)) ? 0 : EXTRACT_UNWRITTEN;
  }
  size_t slash = target.rfind(L'\\');
  if (!make_folders(target.substr(0, slash))) return EXTRACT_UNWRITTEN;
  unsigned char local[30];
  if (!zip.read_at(item.local_offset, local, 30) || u32(local) != 0x04034b50) return EXTRACT_UNWRITTEN;
  uint64_t data_at = static_cast<uint64_t>(item.local_offset) + 30 + u16(local + 26) + u16(local + 28);
  if (item.method != 0 && item.method != 8) return EXTRACT_UNWRITTEN;

  HANDLE out = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return EXTRACT_UNWRITTEN;
  std::vector<unsigned char>& in = work.in;
  std::vector<unsigned char>& inflated = work.out;
  z_stream stream = {};
  bool ok = item.method == 0 || inflateInit2(&stream, -MAX_WBITS) == Z_OK;
  bool inflating = ok && item.method == 8;
  int code = ok ? 0 : EXTRACT_UNWRITTEN;
  uLong crc = crc32(0, nullptr, 0);
  uint64_t written = 0;
  uint64_t left = item.packed;
  uint64_t at = data_at;
  int last = Z_OK;
  while (ok && left > 0) {
    DWORD chunk = static_cast<DWORD>(left < BLOCK ? left : BLOCK);
    ok = zip.read_at(at, in.data(), chunk);
    at += chunk;
    left -= chunk;
    if (!ok) break;
    if (!inflating) {
      code = keep_bytes(out, in.data(), chunk, item, &written, &crc);
      ok = code == 0;
      continue;
    }
    stream.next_in = in.data();
    stream.avail_in = chunk;
    while (ok && stream.avail_in > 0 && last != Z_STREAM_END) {
      stream.next_out = inflated.data();
      stream.avail_out = BLOCK;
      last = inflate(&stream, Z_NO_FLUSH);
      if (last != Z_OK && last != Z_STREAM_END) ok = false;
      if (ok) code = keep_bytes(out, inflated.data(), BLOCK - stream.avail_out, item, &written, &crc);
      ok = ok && code == 0;
    }
  }
  if (inflating) {
    while (ok && last != Z_STREAM_END) {  // whatever the last input still holds
      stream.next_out = inflated.data();
      stream.avail_out = BLOCK;
      last = inflate(&stream, Z_FINISH);
      if (last != Z_OK && last != Z_STREAM_END && last != Z_BUF_ERROR) ok = false;
      DWORD produced = BLOCK - stream.avail_out;
      if (produced == 0 && last != Z_STREAM_END) ok = false;
      if (ok) code = keep_bytes(out, inflated.data(), produced, item, &written, &crc);
      ok = ok && code == 0;
    }
    inflateEnd(&stream);
  }
  CloseHandle(out);
  if (code != 0) return code;
  return ok && written == item.size && crc == item.crc ? 0 : EXTRACT_UNWRITTEN;
}

int extract() {
  std::wstring package = variable(L"VORNA380_PACKAGE_PATH");
  std::wstring staging = variable(L"VORNA380_STAGING_PATH");
  if (package.empty() || staging.empty()) return 1;
  if (!remove_tree(staging) || !make_folders(staging)) return 2;
  if (g_fault == fault::fail) return 1;
  archive zip;
  zip.file = CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  std::vector<entry> entries;
  if (zip.file == INVALID_HANDLE_VALUE || !read_directory(zip, &entries)) return 3;
  if (staging.back() != L'\\') staging += L'\\';
  buffers work;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i == entries.size() / 2 && halfway()) return 1;
    if (entries[i].is_link || !safe_name(entries[i].name)) return EXTRACT_REFUSED;
    int code = extract_entry(zip, entries[i], staging, work);
    if (code != 0) return code;
  }
  return 0;
}
}  // namespace

int wmain() {
  std::wstring command = GetCommandLineW();
  std::wstring prefix = k_prefix;
  if (command.size() < prefix.size() + 1 || command.compare(0, prefix.size(), prefix) != 0 || command.back() != L'"') {
    return 1;
  }
  std::wstring script = command.substr(prefix.size(), command.size() - prefix.size() - 1);
  read_fault();
  if (script == k_download) return download();
  if (script == k_extract) return extract();
  return 1;
}
