#include "install/package_download.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/crash_point.h"
#include "core/journal.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "transfer/download.h"
#include "transfer/release_hosts.h"
#include "trust/digest.h"

namespace {
constexpr uint32_t RECORD_BYTES = 256;
constexpr size_t URL_UNITS = 2048;

void record_path(wchar_t record[PATH_UNITS], const wchar_t* package) {
  text_builder text = start_text(record, PATH_UNITS);
  builder_append(&text, package);
  builder_append(&text, L".resume");
}

// The record's validator when it names this manifest's package: 1 with it in validator.
bool read_record(const release_manifest* manifest, const wchar_t* package, char validator[VALIDATOR_BYTES]) {
  wchar_t* path = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  if (path == nullptr) return false;
  record_path(path, package);
  uint32_t length = 0;
  char* text = read_file(path, RECORD_BYTES, &length);
  free(path);
  bool ok = text != nullptr && length > 66 && text[64] == ' ';
  for (size_t i = 0; ok && i < 64; ++i) ok = text[i] == static_cast<char>(manifest->package_sha256[i]);
  if (ok) {
    size_t end = 65;
    while (end < length && text[end] != '\n') ++end;
    ok = end - 65 < VALIDATOR_BYTES;
    if (ok) {
      memcpy(validator, text + 65, end - 65);
      validator[end - 65] = '\0';
      ok = strong_validator(validator);
    }
  }
  free(text);
  return ok;
}

void write_record(const release_manifest* manifest, const wchar_t* package, const char* validator) {
  wchar_t* path = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  char text[RECORD_BYTES];
  size_t used = 0;
  for (; used < 64; ++used) text[used] = static_cast<char>(manifest->package_sha256[used]);
  text[used++] = ' ';
  size_t length = strlen(validator);
  if (path != nullptr && used + length + 1 < sizeof text) {
    memcpy(text + used, validator, length);
    used += length;
    text[used++] = '\n';
    record_path(path, package);
    os_replace_file(path, text, used, nullptr);
  }
  free(path);
}

struct file_sink {
  os_file* file;
  bool failed;  // a local write failed: the answer itself was good
};

int take_into_file(void* context, const unsigned char* bytes, size_t count) {
  file_sink* sink = static_cast<file_sink*>(context);
  sink->failed = !os_write_file(sink->file, bytes, count);
  return !sink->failed;
}

int take_nothing(void*, const unsigned char*, size_t) { return 1; }

// The validator of the package as the host has it now (its first byte asked for); empty when
// there is none or it is weak.
void learn_validator(const release_manifest* manifest, const wchar_t* url, char validator[VALIDATOR_BYTES]) {
  range_sink probe = {take_nothing, nullptr};
  probe.validator = validator;
  uint64_t received = 0;
  if (fetch_range_once(url, 0, 1, manifest->package_size, &probe, nullptr, &received) != RANGE_DONE ||
      !strong_validator(validator)) {
    validator[0] = '\0';
  }
}

// The rest of the package after its first have bytes, under the validator: 1 when it came
// whole; 0 with *changed set when the host answered with the whole file (it changed).
int fetch_rest(const release_manifest* manifest, const wchar_t* url, const wchar_t* package, uint64_t have,
               const char* validator, bool* changed) {
  write_log_with_number(L"Reprise du telechargement du package apres ", have, L" octets deja telecharges.");
  file_sink target = {os_append_file(package), false};
  if (target.file == nullptr) return 0;
  range_sink sink = {take_into_file, &target};
  sink.if_range = validator;
  sink.answered_whole = changed;
  uint64_t received = 0;
  range_outcome outcome =
      fetch_range_once(url, have, manifest->package_size, manifest->package_size, &sink, nullptr, &received);
  int closed = os_close_file(target.file);
  return outcome == RANGE_DONE && closed;
}

// One attempt on the current release host: the rest when a partial package can be resumed,
// else the whole package by the download job. 1 when the package is all there.
int attempt_download(const release_manifest* manifest, const wchar_t* package, body_digest* streamed) {
  wchar_t url[URL_UNITS];
  if (!url_on_host(manifest->package_url, current_release_host(), url, URL_UNITS)) return 0;
  char validator[VALIDATOR_BYTES];
  uint64_t have = resumable_package_bytes(manifest, package);
  if (have > 0 && read_record(manifest, package, validator)) {
    bool changed = false;
    if (fetch_rest(manifest, url, package, have, validator, &changed)) return 1;
    if (!changed) return 0;
    write_log(L"Le package du serveur ne correspond plus au debut telecharge: telechargement complet.");
    os_delete_file(package);
    forget_package_resume(package);
  }
  learn_validator(manifest, url, validator);
  if (validator[0] != '\0') write_record(manifest, package, validator);
  crash_point("package-validator-recorded");
  job_parameters download = download_job(url, package, manifest->package_size);
  download.digest = streamed;
  return powershell(k_download_script, &download);
}
}  // namespace

uint64_t resumable_package_bytes(const release_manifest* manifest, const wchar_t* path) {
  uint64_t size = 0;
  char validator[VALIDATOR_BYTES];
  if (!os_file_size(path, &size) || size == 0 || size >= manifest->package_size) return 0;
  if (read_record(manifest, path, validator)) return size;
  return 0;
}

void forget_package_resume(const wchar_t* path) {
  wchar_t* record = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  if (record == nullptr) return;
  record_path(record, path);
  os_delete_file(record);
  free(record);
}

// Each failed attempt moves on to the next release host. A download that brought nothing (the
// host refused, nothing there) is tried again only on a host not yet asked. Once it stopped on
// its way (it brought bytes), it is tried again, resuming, whatever the next try brings, up to
// PACKAGE_ATTEMPTS tries with a doubling pause once every host was asked: 2, 4 and 8 s, so
// that a network gone for ten seconds does not end the run.
int download_package(const release_manifest* manifest, const wchar_t* path, body_digest* streamed) {
  unsigned hosts = release_host_count();
  unsigned attempts = PACKAGE_ATTEMPTS + hosts - 1;
  bool stopped_on_its_way = false;
  for (unsigned attempt = 1;; ++attempt) {
    if (streamed != nullptr) streamed->known = 0;
    uint64_t before = resumable_package_bytes(manifest, path);
    if (attempt_download(manifest, path, streamed)) {
      journal_served(manifest->package_url);
      return 1;
    }
    release_host_failed();
    stopped_on_its_way = stopped_on_its_way || resumable_package_bytes(manifest, path) > before;
    if (attempt == attempts || (!stopped_on_its_way && attempt >= hosts)) return 0;
    wchar_t line[96];
    text_builder text = start_text(line, 96);
    builder_append(&text, L"Telechargement du package interrompu: nouvel essai ");
    builder_append_uint(&text, attempt + 1, 1);
    builder_append_char(&text, L'/');
    builder_append_uint(&text, attempts, 1);
    builder_append(&text, L" dans un instant.");
    write_log(line);
    if (attempt >= hosts) os_sleep_ms(PACKAGE_RETRY_PAUSE_MS << (attempt - hosts));
  }
}
