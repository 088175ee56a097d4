#include "tagsmith_texts.h"

#include "resource.h"

const ControlText kTagsmithControlTexts[] = {
    {IDC_GUIDE,
     {L"パソコンとプリンタを接続しプリンタの電源をONにした後、\n書込むシリアルNo.を入力し［書込み実行］をクリックしてください。",
      L"Connect the printer to the computer, switch on the power, and input the serial number. Then, click [Start "
      L"writing]."}},
    {IDC_SERIAL_HEADING, {L"接続されているプリンタのシリアルNo.", L"Connected Printer's Serial No."}},
    {IDC_GET_SERIAL, {L"シリアルNo取得(&G)", L"Get Serial Number(&G)"}},
    {IDC_SERIAL_INPUT_LABEL,
     {L"プリンタに書込むシリアル No(&S)", L"Input Serial Number to be written into Printer(&S)"}},
    {IDC_SERIAL_SAMPLE,
     {L"入力例：000123（6桁の場合）詳細は、Readme.txtを参照してください。",
      L"Input sample: 000123 (6-digit) See Readme.txt for details."}},
    {IDC_WRITE_SERIAL, {L"書込み実行(&T)", L"Start writing(&T)"}},
    {IDC_EXIT, {L"終了(&X)", L"Exit(&X)"}},
};

const int kTagsmithControlTextCount = static_cast<int>(sizeof(kTagsmithControlTexts) / sizeof(kTagsmithControlTexts[0]));
