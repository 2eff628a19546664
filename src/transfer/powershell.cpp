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
    L"$ErrorActionPreference='Stop';if(Test-Path -LiteralPath $env:VORNA380_STAGING_PATH){Remove-Item -LiteralPath "
    L"$env:VORNA380_STAGING_PATH -Recurse -Force};New-Item -ItemType Directory -Path $env:VORNA380_STAGING_PATH "
    L"-Force|Out-Null;Expand-Archive -LiteralPath $env:VORNA380_PACKAGE_PATH -DestinationPath "
    L"$env:VORNA380_STAGING_PATH -Force";

const wchar_t* const k_job_variable_names[JOB_VARIABLE_NAMES] = {L"VORNA380_DOWNLOAD_URL", L"VORNA380_DOWNLOAD_DEST",
                                                                 L"VORNA380_PACKAGE_PATH", L"VORNA380_STAGING_PATH"};

namespace {
constexpr size_t FAILURE_LINE_UNITS = 256;
}

job_parameters download_job(const wchar_t* url, const wchar_t* destination, uint64_t download_cap) {
  return {{{k_job_variable_names[0], url}, {k_job_variable_names[1], destination}}, download_cap, nullptr};
}

job_parameters extract_job(const wchar_t* package, const wchar_t* staging) {
  return {{{k_job_variable_names[2], package}, {k_job_variable_names[3], staging}}, 0, nullptr};
}

void format_powershell_command(wchar_t command[COMMAND_LINE_UNITS], const wchar_t* script) {
  text_builder builder = start_text(command, COMMAND_LINE_UNITS);
  builder_append(&builder, L"powershell.exe -NoLogo -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \"");
  builder_append(&builder, script);
  builder_append_char(&builder, L'"');
}

int finish_child(unsigned long exit_code) {
  if (exit_code == 0) return 1;
  wchar_t line[FAILURE_LINE_UNITS];
  text_builder builder = start_text(line, FAILURE_LINE_UNITS);
  builder_append(&builder, L"Le processus auxiliaire a echoue (code ");
  builder_append_uint(&builder, exit_code, 1);
  builder_append(&builder, L").");
  write_log(line);
  return 0;
}
