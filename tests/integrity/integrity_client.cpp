#include "integrity/integrity_client.h"

#include <gtest/gtest.h>

#include "core/paths.h"
#include "core/text.h"
#include "integrity/verify.h"
#include "support/test_support.h"

const char k_bestiary_approved[] = "Fichier Bestiaire local approuve par empreinte exacte.";
const char k_bestiary_complete[] = "Overlay Bestiaire complet et controle.";
const char k_job_ux_approved[] = "Fichier UX Metiers local approuve par empreinte exacte.";
const char k_job_ux_complete[] = "Overlay UX Metiers complet et controle.";
const char k_shop_approved[] = "Fichier boutique Vorna380 local approuve par empreinte exacte.";
const char k_shop_complete[] = "Overlay boutique Vorna380 complet et controle.";
const char k_air_approved[] = "Descripteur AIR historique signe accepte apres normalisation par Moorbridge.";
const char k_updater_approved[] = "Moorbridge Vrel corrige approuve par empreinte exacte.";

std::string content_of(const std::string& label) {
  std::string text = dev_content(label);
  EXPECT_FALSE(text.empty()) << "no development content for " << label;
  return text;
}

std::string dev_digest(const std::string& label) { return sha256_hex(content_of(label)); }

std::string entry(const std::string& digest, const std::string& path) { return digest + "  " + path + "\n"; }

std::string native(const std::string& path) {
  std::string result = path;
  for (char& c : result) {
    if (c == '/' || c == '\\') c = static_cast<char>(PATH_SEPARATOR);
  }
  return result;
}

test_client::test_client(const std::wstring& folder) : folder(folder) { make_dirs(folder); }

void test_client::put(const std::string& path, const std::string& content) const {
  std::wstring full = join(folder, from_utf8(path));
  make_dirs(full.substr(0, full.rfind(PATH_SEPARATOR)));
  ASSERT_TRUE(write_bytes(full, content)) << path;
}

void test_client::add(const std::string& path, const std::string& content) {
  put(path, content);
  list += entry(sha256_hex(content), path);
}

void test_client::add_listed(const std::string& path, const std::string& listed_digest, const std::string& content) {
  put(path, content);
  list += entry(listed_digest, path);
}

std::string filler_content(int i) { return "filler " + std::to_string(i % test_client::FILLER_FILES) + "\n"; }

std::string filler_path(int i) {
  char name[32];
  snprintf(name, sizeof name, "pack/f%04d.bin", i % test_client::FILLER_FILES);
  return name;
}

void test_client::add_fillers(int count, int first) {
  if (!fillers_written) {
    make_dirs(join(folder, L"pack"));
    for (int i = 0; i < FILLER_FILES; ++i) {
      ASSERT_TRUE(write_bytes(join(folder, from_utf8(filler_path(i))), filler_content(i)));
    }
    fillers_written = true;
  }
  for (int i = first; i < first + count; ++i) list += entry(sha256_hex(filler_content(i)), filler_path(i));
}

std::string test_client::write_list() { return write_list(list); }

std::string test_client::write_list(const std::string& bytes) {
  EXPECT_TRUE(write_bytes(join(folder, L"client-integrity.sha256"), bytes));
  return sha256_hex(bytes);
}

int test_client::verify(const std::string& digest) const {
  return verify_integrity(folder.c_str(), from_utf8(digest).c_str());
}

std::vector<std::string> integrity_journal::events() const {
  std::vector<std::string> result;
  for (const std::string& message : messages()) {
    if (message.rfind("Verification de securite : ", 0) != 0) result.push_back(message);
  }
  return result;
}
