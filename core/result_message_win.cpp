#include "result_message.h"

#include "debug_log.h"
#include "message_catalog.h"
#include "port_journal.h"
#include "program_state.h"
#include "settings_types.h"
#include "spooler.h"

namespace {

UINT StyleFor(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::kOkInformation:
      return MB_OK | MB_ICONINFORMATION;
    case MessageButtons::kOkCancelInformation:
      return MB_OKCANCEL | MB_ICONINFORMATION;
    default:
      return MB_OK | MB_ICONEXCLAMATION;
  }
}

void (*g_shownMessageObserver)(const wchar_t* text) = nullptr;

}  // namespace

void SetShownMessageObserver(void (*observer)(const wchar_t* text)) { g_shownMessageObserver = observer; }

int ShowResultMessage(HWND owner, int32_t code, const wchar_t* text) {
  const CatalogueOwner catalogue =
      g_program.kind == ProgramKind::Tagsmith ? CatalogueOwner::kTagsmith : CatalogueOwner::kRomsmith;
  const int language = g_settings.languageIndex;
  const int number = MessageNumberForCode(code);
  const CatalogueMessage* message = FindCatalogueMessage(catalogue, number);
  if (message == nullptr || message->buttons == MessageButtons::kNoBox) return IDCANCEL;

  const wchar_t* catalogueText = message->text[language == 0 ? 0 : 1];
  wchar_t formatted[kMessageTextChars];
  const wchar_t* shown = catalogueText;
  if (message->source == MessageTextSource::kCallerText) {
    shown = text != nullptr ? text : L"";
  } else if (message->source == MessageTextSource::kFormattedText) {
    FormatCatalogueText(catalogueText, text, formatted, kMessageTextChars);
    shown = formatted;
  }
  if (g_shownMessageObserver != nullptr) g_shownMessageObserver(shown);
  int answer = MessageBoxW(owner, shown, MessageCaption(catalogue), StyleFor(message->buttons));
  if (answer == 0) DebugLogF("ShowResultMessage Err(MessageBoxW %lu)", static_cast<unsigned long>(GetLastError()));
  return answer;
}

bool ShowPrintersLeftOnFile(HWND owner, bool firmwareSent) {
  const std::vector<std::wstring> left = PrintersLeftOnFile();
  if (left.empty()) return false;
  std::vector<std::u16string> names;
  for (const std::wstring& name : left) names.emplace_back(name.begin(), name.end());
  const int language = g_settings.languageIndex;
  const std::u16string text =
      firmwareSent ? PortJournalLeftMessage(language, names) : PortJournalStillOnFileMessage(language, names);
  const CatalogueOwner catalogue =
      g_program.kind == ProgramKind::Tagsmith ? CatalogueOwner::kTagsmith : CatalogueOwner::kRomsmith;
  if (MessageBoxW(owner, std::wstring(text.begin(), text.end()).c_str(), MessageCaption(catalogue),
                  MB_OK | MB_ICONEXCLAMATION) == 0) {
    DebugLogF("ShowPrintersLeftOnFile Err(MessageBoxW %lu)", static_cast<unsigned long>(GetLastError()));
  }
  return true;
}
