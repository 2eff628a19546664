#include "transfer/powershell.h"

#include "core/journal.h"
#include "core/text.h"

const wchar_t k_download_script[] =
    L"$ErrorActionPreference='Stop';$ProgressPreference='SilentlyContinue';"
    L"[Net.ServicePointManager]::SecurityProtocol=[Net.SecurityProtocolType]::Tls12;"
    L"if(Test-Path -LiteralPath $env:VORNA380_DOWNLOAD_DEST){Remove-Item -LiteralPath $env:VORNA380_DOWNLOAD_DEST "
    L"-Force};Invoke-WebRequest -UseBasicParsing -Uri $env:VORNA380_DOWNLOAD_URL -OutFile "
    L"$env:VORNA380_DOWNLOAD_DEST";

const wchar_t k_extract_script[] =
    L"$ErrorActionPreference='Stop';$s=$env:VORNA380_STAGING_PATH;try{if(Test-Path -LiteralPath $s){Remove-Item -Lit"
    L"eralPath $s -Recurse -Force};[void][IO.Directory]::CreateDirectory($s)}catch{exit 2};try{Add-Type -AssemblyNam"
    L"e System.IO.Compression.FileSystem;$z=[IO.Compression.ZipFile]::OpenRead($env:VORNA380_PACKAGE_PATH)}catch{exi"
    L"t 3};$r=[IO.Path]::GetFullPath($s).TrimEnd('\\')+'\\';$b=New-Object byte[] 1048576;$c=0;try{foreach($e in $z.Ent"
    L"ries){$c=4;$t=[IO.Path]::GetFullPath([IO.Path]::Combine($r,$e.FullName));if(-not $t.StartsWith($r,[StringCompa"
    L"rison]::OrdinalIgnoreCase)){break};$c=6;if($e.Name -eq ''){[void][IO.Directory]::CreateDirectory($t);$c=0;cont"
    L"inue};[void][IO.Directory]::CreateDirectory([IO.Path]::GetDirectoryName($t));$i=$e.Open();$o=[IO.File]::Create"
    L"($t);$n=[long]0;try{while(($k=$i.Read($b,0,$b.Length)) -gt 0){$n+=$k;if($n -gt $e.Length){break};$o.Write($b,0"
    L",$k)}}finally{$o.Dispose();$i.Dispose()};if($n -gt $e.Length){$c=5;break};if($n -ne $e.Length){break};$c=0}}ca"
    L"tch{if($c -eq 0){$c=6}}finally{$z.Dispose()};exit $c";

const wchar_t* const k_job_variable_names[JOB_VARIABLE_NAMES] = {L"VORNA380_DOWNLOAD_URL", L"VORNA380_DOWNLOAD_DEST",
                                                                 L"VORNA380_PACKAGE_PATH", L"VORNA380_STAGING_PATH"};

namespace {
// The journal line of a failed extraction step; null for a code that names none.
const wchar_t* extraction_step_line(unsigned long exit_code) {
  switch (exit_code) {
    case EXTRACT_STAGING_UNUSABLE:
      return L"Extraction: le dossier de preparation n'a pu etre vide ou cree.";
    case EXTRACT_ARCHIVE_UNREADABLE:
      return L"Extraction: le package n'est pas une archive zip lisible.";
    case EXTRACT_ENTRY_REFUSED:
      return L"Extraction: entree refusee (nom hors du dossier, lien ou type de fichier refuse).";
    case EXTRACT_ENTRY_OVERSIZED:
      return L"Extraction: entree plus grande que sa taille declaree, arretee.";
    case EXTRACT_ENTRY_UNWRITTEN:
      return L"Extraction: entree non ecrite (ecriture locale impossible ou donnees endommagees).";
    default:
      return nullptr;
  }
}
}  // namespace

job_parameters download_job(const wchar_t* url, const wchar_t* destination, uint64_t download_cap) {
  return {job_kind::download, url, destination, nullptr, nullptr, download_cap, nullptr};
}

job_parameters extract_job(const wchar_t* package, const wchar_t* staging) {
  return {job_kind::extract, nullptr, nullptr, package, staging, 0, nullptr};
}

void job_variables(const job_parameters* job, job_variable variables[JOB_VARIABLES]) {
  bool download = job->kind == job_kind::download;
  variables[0] = download ? job_variable{k_job_variable_names[0], job->url}
                          : job_variable{k_job_variable_names[2], job->package};
  variables[1] = download ? job_variable{k_job_variable_names[1], job->destination}
                          : job_variable{k_job_variable_names[3], job->staging};
}

void format_powershell_command(wchar_t command[COMMAND_LINE_UNITS], const wchar_t* script) {
  text_builder builder = start_text(command, COMMAND_LINE_UNITS);
  builder_append(&builder, L"powershell.exe -NoLogo -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \"");
  builder_append(&builder, script);
  builder_append_char(&builder, L'"');
}

int finish_child(unsigned long exit_code) {
  if (exit_code == 0) return 1;
  write_log_with_number(L"Le processus auxiliaire a echoue (code ", exit_code, L").");
  return 0;
}

int finish_extraction(unsigned long exit_code, const wchar_t* entry) {
  const wchar_t* step = extraction_step_line(exit_code);
  if (step != nullptr) write_log(step);
  if (step != nullptr && entry != nullptr) write_log_with_path(L"Extraction: entree en cause: ", entry);
  return finish_child(exit_code);
}
