#include "texts.h"

#include "resource.h"

const wchar_t kProgramTitle[] = L"Romsmith";
const wchar_t kTagsmithTitle[] = L"Tagsmith";

const ControlText kMainControlTexts[] = {
    {IDC_FIRMWARE_GROUP, {{L"ファーム書換え", L"Firmware Rewriting"}}},
    {IDC_MODE_GROUP, {{L"書換え方法", L"Rewriting the firmware"}}},
    {IDC_MODE_REWRITE_ALL, {{L"全書換え(.h&ex)", L"Rewrite All area(.h&ex)"}}},
    {IDC_MODE_UPDATE, {{L"アップデート(.&hx*)", L"Update a part of ROM area(.&hx*)"}}},
    {IDC_RESET_PRINTER, {{L"プリンタリセット(&J)", L"Reset Printer(&J)"}}},
    {IDC_FILE_LABEL, {{L"ファームウェアデータ(&O)", L"Firmware Data(&O)"}}},
    {IDC_BROWSE, {{L"参照(&R)", L"Browse(&R)"}}},
    {IDC_KIND_USB, {{L"&USB", L"&USB"}}},
    {IDC_KIND_COM, {{L"CO&M", L"CO&M"}}},
    {IDC_KIND_LPT, {{L"&LPT", L"&LPT"}}},
    {IDC_KIND_LAN, {{L"LA&N", L"LA&N"}}},
    {IDC_PORT_GROUP, {{L"接続ポートの設定", L"Connecting port"}}},
    {IDC_PORT_LABEL, {{L"ポート名(&P)", L"Port name(&P)"}}},
    {IDC_REFRESH, {{L"更新(&S)", L"Refresh(&S)"}}},
    {IDC_BAUD_LABEL, {{L"ボーレート(&B)", L"Baudrate(&B)"}}},
    {IDC_FORMAT_LABEL, {{L"フォーマット(&F)", L"Format(&F)"}}},
    {IDC_PROTOCOL_LABEL, {{L"プロトコル(&C)", L"Protocol(&C)"}}},
    {IDC_IP_LABEL, {{L"IPアドレス(&I)", L"IP Address(&I)"}}},
    {IDC_LAN_ADD, {{L"追加(&A)", L"Add(&A)"}}},
    {IDC_LAN_SEARCH, {{L"検索(&S)", L"Search(&S)"}}},
    {IDC_LAN_LIST_LABEL, {{L"プリンタリスト(&Y)", L"Printer List(&Y)"}}},
    {IDC_LAN_DELETE, {{L"削除(&D)", L"Delete(&D)"}}},
    {IDC_START_WRITING, {{L"書込み実行(&T)", L"Start writing(&T)"}}},
    {IDC_VERSION_GROUP, {{L"プリンタ・バージョン確認", L"Current printer version confirmation"}}},
    {IDC_GET_VERSION, {{L"バージョン取得(&G)", L"Get Version(&G)"}}},
    {IDC_PRINT_VERSION, {{L"バージョン印刷(&V)", L"Print Version(&V)"}}},
    {IDC_START_TAGSMITH, {{L"Tagsmith(&W)", L"Tagsmith(&W)"}}},
    {IDC_EXIT, {{L"終了(&X)", L"Exit(&X)"}}},
};
const int kMainControlTextCount = static_cast<int>(sizeof(kMainControlTexts) / sizeof(kMainControlTexts[0]));

const TextPair kRewriteAllText = {{
    L"パソコンとプリンタを接続しプリンタのカバーを開けて[FEED]ボタンを押しながら電源をONにした後、下記設定を行い［書込み実行］\nをクリックしてください。",
    L"Connect the printer to the computer, open the printer cover, switch on the power with pressing [FEED] button, "
    L"and set the following settings. Then, click [Start writing].",
}};

const TextPair kUpdateText = {{
    L"パソコンとプリンタを接続しプリンタの電源をONにした後、\n下記設定を行い［書込み実行］をクリックしてください。\n尚、OPOSでご使用の場合は、[プリンタリセット]ボタンを\nクリックしてから以降の操作をしてください。",
    L"Connect the printer to the computer, switch on the power, and set the following settings. Then, click [Start "
    L"writing]. Also, when you use this tool with OPOS driver, operate the followings after clicking [Reset Printer] "
    L"button.",
}};

const TextPair kUsbNoteText = {{
    L"ポート名に\"なし\"が表示される場合は、パソコンとプリンタが\n接続され、プリンタの電源がONになっているかを再度\n確認し、［更新］をクリックしてください。\n\n尚、プリンタのセットアップで「シリアル番号 = 無効」の場合、\nSerial No.は、\"0\" で表示されます。",
    L"If the port name is shown as \"None\", make sure\nthat computer and Printer are connected,\nand confirm if the "
    L"printer power is on again.\nThen, click [Refresh].\n\nWhen [Serial Number] is [Disable] of the printer setup, "
    L"Serial No. is shown as \"0\".",
}};

const TextPair kLanNoteText = {{
    L"プリンタの検索を行った場合、[プリンタリスト] には接続されている\n全てのプリンタが反映されます。",
    L"When click [Search], all printers connected to computer are appeared in the [Printer List].",
}};

const TextPair kLanColumnTitles[3] = {
    {{L"モデル名", L"Model Name"}},
    {{L"IP アドレス", L"IP Address"}},
    {{L"MAC アドレス", L"MAC Address"}},
};

const TextPair kLanPortConfirm = {{
    L"(LAN) プリンタリスト内のすべてのプリンタに送信します。",
    L"(LAN) Send to all printers listed in [Printer List].",
}};

const TextPair kLanNotice = {{
    L"******************************************************\n 書換えを行わないプリンタは、[プリンタリスト]から[削除]\n ボタンで削除してください。\n******************************************************",
    L"********************************************  \n For the printer(s) not necessary to rewrite its(their)\n "
    L"firmware in the [Printer List], use the [Delete] button\n to remove the printer(s) from the [Printer List].\n"
    L"********************************************  ",
}};

const TextPair kPreparingText = {{L"準備中...", L"Preparing now ..."}};
const TextPair kLanPreparingFormat = {{L"%ls\n\nLAN ポート : %ls", L"%ls\n\nLAN Port : %ls"}};

const TextPair kPowerLampText = {{
    L"プリンタの状態を確認してください。\n\nPOWER(緑)ランプが点灯してから[OK]をクリックしてください。",
    L"Confirm the status of Printer.\n\nClick [OK] when POWER(Green) Lamp lights up.",
}};

const TextPair kWritingDoneText = {{
    L"書込みが終了しました。\n\n[全書換え]の場合はプリンタの電源を再投入してください。",
    L"Writing is done.\n\nIn case of [Rewrite All area], switch off and on the power of printer.",
}};

const TextPair kSearchingText = {{
    L"接続されているプリンタを検索中です...\n\nしばらくお待ちください。",
    L"Searching for connected printers...\n\nPlease wait.",
}};
