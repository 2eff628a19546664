#include "startup/entry.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/paths.h"
#include "integrity/verify.h"
#include "startup/startup.h"
#include "trust/manifest.h"
#include "trust/signature.h"

namespace {
bool is_mode(int argc, wchar_t** argv, int count, const wchar_t* flag) {
  return argc == count && wcscmp(argv[1], flag) == 0;
}
}  // namespace

int run_release_check(const wchar_t* manifest_path, const wchar_t* signature_path) {
  release_manifest* manifest = static_cast<release_manifest*>(calloc(1, sizeof(release_manifest)));
  uint32_t manifest_length = 0;
  uint32_t signature_length = 0;
  char* manifest_text = read_file(manifest_path, MANIFEST_LIMIT, &manifest_length);
  char* signature = read_file(signature_path, SIGNATURE_LIMIT, &signature_length);
  int result = 2;
  if (manifest != nullptr && manifest_text != nullptr && signature != nullptr &&
      verify_release_signature(reinterpret_cast<const unsigned char*>(manifest_text), manifest_length,
                               reinterpret_cast<const unsigned char*>(signature), signature_length) &&
      parse_manifest(manifest_text, manifest)) {
    int64_t now = 0;
    result = manifest_expired(manifest, &now) ? 2 : 0;
  }
  free(manifest_text);
  free(signature);
  free(manifest);
  return result;
}

int dispatch_command_line(int argc, wchar_t** argv, const launcher_modes& modes) {
  if (argv == nullptr) argc = 0;
  if (is_mode(argc, argv, 3, L"--apply-self-update")) return modes.apply_self_update(argv[2]);
  if (is_mode(argc, argv, 4, L"--verify-release")) return modes.verify_release(argv[2], argv[3]);
  if (is_mode(argc, argv, 4, L"--verify-integrity")) return modes.verify_integrity(argv[2], argv[3]);
  if (is_mode(argc, argv, 2, L"--uninstall")) return modes.uninstall(0);
  if (is_mode(argc, argv, 3, L"--uninstall") && wcscmp(argv[2], L"--remove-accounts") == 0) return modes.uninstall(1);
  return modes.interactive();
}

int launcher_main(int argc, wchar_t** argv) {
  static const launcher_modes modes = {run_self_update, run_release_check, run_integrity_check, run_uninstall,
                                       run_interactive_start};
  return dispatch_command_line(argc, argv, modes);
}
