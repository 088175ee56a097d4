#include "message_catalog.h"

namespace {

// One table for both programs; the serial-number tool differs only in
// message 19 (it has no write modes to list).
const CatalogueMessage kCatalogue[kMessageCount] = {
    /* 0 */ {MessageButtons::kOkExclamation, MessageTextSource::kCatalogueText,
             {L"IPアドレスが未入力、または、使用できない値が入力されています。\n\nIPアドレスを確認してください。",
              L"IP address not entered, or illegal value entered.\n\nCheck the IP address."}},
    /* 1 */ {MessageButtons::kNoBox, MessageTextSource::kCatalogueText,
             {L"接続されているプリンタを検索中です...\n\nしばらくお待ちください。",
              L"Searching for connected printers...\n\nPlease wait."}},
    /* 2 */ {MessageButtons::kOkExclamation, MessageTextSource::kCatalogueText,
             {L"有効なプリンタが見つかりませんでした。",
              L"No valid printers found."}},
    /* 3 */ {MessageButtons::kOkCancelInformation, MessageTextSource::kCallerText,
             {L"[プリンタリスト]から次のプリンタを削除します。\nよろしいですか？\n\n・%s ：\t%s\n・%s ：\t%s\n・%s ：\t%s",
              L"This will remove the following printer from the [Printer List]\nAre you sure?\n\n・%s：\t%s\n・%s：\t%s\n・%s：\t%s"}},
    /* 4 */ {MessageButtons::kOkExclamation, MessageTextSource::kFormattedText,
             {L"既に同じIPアドレスがあります。\n\n%s",
              L"That IP address is already in use.\n\n%s"}},
    /* 5 */ {MessageButtons::kOkExclamation, MessageTextSource::kCatalogueText,
             {L"IPアドレスが255個を超えています。\n\nこれ以上登録できません。",
              L"The number of IP addresses has exceeded 255.\n\nNo more can be registered."}},
    /* 6 */ {MessageButtons::kOkCancelInformation, MessageTextSource::kCallerText,
             {L"ファームウェアデータをプリンタに送信しファームウェアをアップデートします。\nよろしいですか？\n\nプリンタが接続されていることを確認し、[OK]をクリックしてください。\n\nポート名 ： %s\nファイル名： %s\n\n%s",
              L"This will send the firmware data to the printer and update the firmware.\nAre you sure?\n\nCheck that the printer is connected and then click [OK].\n\nPort\t%s\nFile name\t%s\n\n%s"}},
    /* 7 */ {MessageButtons::kNoBox, MessageTextSource::kCatalogueText,
             {L"ファームウェアデータをプリンタに送信しています...\nしばらくお待ちください。\n注意）Flash書込みが完了するまでは、\nプリンタの電源を切らないでください。",
              L"Sending the firmware data to the printer...\nPlease wait.\nNote) Do not turn off the printer until all the data has been written to the Flash ROM."}},
    /* 8 */ {MessageButtons::kOkCancelInformation, MessageTextSource::kCatalogueText,
             {L"プリンタをリセットします。よろしいですか？\nプリンタが接続されていることを確認し、[OK]をクリックしてください。",
              L"This will reset the printer. Are you sure?\nCheck that the printer is connected and then click [OK]."}},
    /* 9 */ {MessageButtons::kOkCancelInformation, MessageTextSource::kCatalogueText,
             {L"ファームウェアのバージョン（設定一覧）を印刷します。よろしいですか？\nプリンタが接続されていることを確認し、[OK]をクリックしてください。",
              L"This will print the firmware version (list of settings). Are you sure?\nCheck that the printer is connected and then click [OK]."}},
    /* 10 */ {MessageButtons::kOkCancelInformation, MessageTextSource::kCatalogueText,
             {L"プリンタからファームウェアのバージョンを取得します。よろしいですか？\nプリンタが接続されていることを確認し、[OK]をクリックしてください。",
              L"This will get the firmware version from the printer. Are you sure?\nCheck that the printer is connected and then click [OK]."}},
    /* 11 */ {MessageButtons::kOkCancelInformation, MessageTextSource::kCatalogueText,
             {L"プリンタからシリアルNoを読込みます。よろしいですか？\nプリンタが接続されていることを確認し、[OK]をクリックしてください。",
              L"This will load the serial number from the printer. Are you sure?\nCheck that the printer is connected and then click [OK]."}},
    /* 12 */ {MessageButtons::kOkCancelInformation, MessageTextSource::kCatalogueText,
             {L"プリンタにシリアルNoを書込みます。よろしいですか？\nプリンタが接続されていることを確認し、[OK]をクリックしてください。",
              L"This will write the serial number to the printer. Are you sure?\nCheck that the printer is connected and then click [OK]."}},
    /* 13 */ {MessageButtons::kOkInformation, MessageTextSource::kCatalogueText,
             {L"********************************************  \n 対象のプリンタドライバをインストールしている場合は、\n プリンタドライバのプロパティで[ポート]タブの\n [双方向サポートを有効にする]のチェックを外して\n PCを再起動してから本ツールを実行してください。\n\n チェックをしたまま書換えを実行した場合、\n プリンタの故障につながる危険があります。\n********************************************  ",
              L"********************************************  \n If the printer driver to be used is already installed,\n uncheck [Enable bidirectional support] in the\n [Ports] tab.\n Then restart the computer and run this tool.\n\n Rewriting the software while this option is checked\n could result in a printer malfunction.\n********************************************  "}},
    /* 14 */ {MessageButtons::kOkInformation, MessageTextSource::kCatalogueText,
             {L"シリアルNo.書込みに成功しました。",
              L"Serial number writing successful."}},
    /* 15 */ {MessageButtons::kOkExclamation, MessageTextSource::kCatalogueText,
             {L"Romsmithは既に起動しています。",
              L"Romsmith is already running."}},
    /* 16 */ {MessageButtons::kOkExclamation, MessageTextSource::kCatalogueText,
             {L"起動に必要なファイルがありません。\nRomsmithを再インストールしてください。",
              L"Files needed for launch are missing.\nRe-install Romsmith."}},
    /* 17 */ {MessageButtons::kOkExclamation, MessageTextSource::kFormattedText,
             {L"ファイルが見つかりません。\n\"%s\"ファイル名を確認してください。",
              L"Cannot find the file.\nCheck the \"%s\"file."}},
    /* 18 */ {MessageButtons::kOkExclamation, MessageTextSource::kFormattedText,
             {L"ファームウェアデータファイルではありません。\n\"%s\"ファイルを確認してください。",
              L"This is not a firmware data file.\nCheck the \"%s\"file."}},
    /* 19 */ {MessageButtons::kOkExclamation, MessageTextSource::kCatalogueText,
             {L"プリンタとの通信中にエラーが発生しました。\nプリンタにエラーがないか確認してください。\n\n[全書換え]時\n  ・パソコンとプリンタが接続されていない。\n  ・電源が入っていない。\n\n[アップデート][バージョン印刷]時\n  ・パソコンとプリンタが接続されていない。\n  ・電源が入っていない。\n  ・カバーが開いている。\n  ・用紙が無い。\n\nエラーを取り除きプリンタの電源をオフ/オン後、再度実行してください。",
              L"An error occurred during communication with the printer.\nCheck that there is no error in the printer.\n\n[Rewrite All area]\n   The printer is not connected to the computer.\n   The printer is not switched on.\n\n[Update a part of the ROM area] [Print Version]\n   The printer is not connected to the computer.\n   The printer is not switched on.\n   The printer cover is open.\n   Out of paper.\n\nClear the error and turn the printer off and then on again. Then retry."}},
    /* 20 */ {MessageButtons::kOkExclamation, MessageTextSource::kFormattedText,
             {L"拡張子が違います。\n\"%s\" ファイルを確認してください。",
              L"A different extension is used.\nCheck the \"%s\"file."}},
    /* 21 */ {MessageButtons::kOkExclamation, MessageTextSource::kFormattedText,
             {L"ファイル読込み中にエラーが発生しました。\n\"%s\" ファイルを確認してください。",
              L"An error occurred during file loading.\nCheck the \"%s\"file."}},
    /* 22 */ {MessageButtons::kNoBox, MessageTextSource::kCatalogueText,
             {L"メモリが確保できません。他のアプリケーションを終了してください。",
              L"Cannot allocate memory. Close any other applications that are running."}},
    /* 23 */ {MessageButtons::kOkExclamation, MessageTextSource::kCatalogueText,
             {L"シリアルNo.書込みに失敗しました。",
              L"Serial number writing failed."}},
    /* 24 */ {MessageButtons::kOkExclamation, MessageTextSource::kCatalogueText,
             {L"プリンタとの通信中にデータエラーが発生しました。\nプリンタの電源をオフ/オン後、再度実行してください。",
              L"A data error occurred during communication with the printer.\nTurn the printer off and on again. Then retry."}},
};

const CatalogueMessage kTagsmithMessage19 = {
    MessageButtons::kOkExclamation, MessageTextSource::kCatalogueText,
    {L"プリンタとの通信中にエラーが発生しました。\n\nプリンタにエラーがないか確認してください。\n\n  ・パソコンとプリンタが接続されていない。\n  ・電源が入っていない。\n  ・カバーが開いている。\n  ・用紙が無い。\n\nエラーを取り除きプリンタの電源をオフ/オン後、再度実行してください。",
     L"An error occurred during communication with the printer.\n\nCheck that there is no error on the printer.\n   The printer is not connected to the computer.\n   The printer is not switched on.\n   The printer cover is open.\n   Out of paper.\n\nClear the error and turn the printer off and on again. Then retry."}
};

struct CodeMapping {
  int32_t code;
  int number;
};

const CodeMapping kCodeMessages[] = {
    {-3, 17},  {-4, 17},  {-6, 17},  {-7, 20},  {-8, 21},  {-9, 18},  {-20, 2},  {-21, 19},
    {-22, 2},  {-23, 19}, {-30, 19}, {-31, 24}, {-32, 23}, {-33, 19}, {-34, 19}, {-40, 19},
    {-50, 22}, {-60, 22}, {-61, 22}, {-62, 22},
};

}  // namespace

int MessageNumberForCode(int32_t code) {
  if (code >= 0) return code < kMessageCount ? static_cast<int>(code) : -1;
  for (const CodeMapping& m : kCodeMessages) {
    if (m.code == code) return m.number;
  }
  return -1;
}

const CatalogueMessage* FindCatalogueMessage(CatalogueOwner owner, int number) {
  if (number < 0 || number >= kMessageCount) return nullptr;
  if (owner == CatalogueOwner::kTagsmith && number == 19) return &kTagsmithMessage19;
  return &kCatalogue[number];
}

const wchar_t* CatalogueText(CatalogueOwner owner, int number, int languageIndex) {
  const CatalogueMessage* message = FindCatalogueMessage(owner, number);
  if (message == nullptr) return nullptr;
  return message->text[languageIndex == 0 ? 0 : 1];
}

const wchar_t* MessageCaption(CatalogueOwner owner) {
  return owner == CatalogueOwner::kTagsmith ? L"Tagsmith" : L"Romsmith";
}

void FormatCatalogueText(const wchar_t* format, const wchar_t* argument, wchar_t* out, size_t outChars) {
  if (out == nullptr || outChars == 0) return;
  size_t used = 0;
  bool replaced = false;
  auto put = [&](wchar_t c) {
    if (used + 1 < outChars) out[used++] = c;
  };
  for (const wchar_t* p = format ? format : L""; *p != L'\0'; ++p) {
    if (!replaced && p[0] == L'%' && p[1] == L's') {
      replaced = true;
      for (const wchar_t* a = argument ? argument : L""; *a != L'\0'; ++a) put(*a);
      ++p;
      continue;
    }
    put(*p);
  }
  out[used] = L'\0';
}
