#include "recorder/RecordingReport.h"

#include "encoding/EncoderWorker.h"
#include "recorder/DeviceChoice.h"
#include "recorder/RecorderView.h"
#include "recorder/RecordingInput.h"
#include "startup/ProgramText.h"

const char kDeviceMessage[] = "録音デバイスを開けませんでした。\nライン入力が使えるか確認してください。";
const char kPreparationMessage[] = "録音の準備に失敗しました。\nメモリが足りない可能性があります。";
const char kSizeLimitMessage[] = "録音ファイルのサイズが 2GB の95%に達したので、\n録音を中止しました。";
const char kSilentInputMessage[] =
    "録音中、入力から音が来ませんでした。\nライン入力の接続とミュート、録音デバイスの音量を確認してください。";
const char kEncoderFailedWords[] = "the encoder or the disk failed";
const char kSizeLimitWords[] = "the size limit, 95 % of 2 GB";
const char kSessionEndWords[] = "Windows was shutting down";
const char kClosedBeforeItsLimitWords[] = "closed before its limit";
static const char kNoSuchDeviceMessage[] = "名前に「%s」を含む録音デバイスが見つかりませんでした。\n次のデバイスがあります:\n%s";
static const char kNoDevicesPresent[] = "(録音デバイスがありません)";
static const char kGapsMessage[] = "録音中に入力が %d 回途切れました。無音で補った時間: %s";
static const char kSilencesMessage[] = "録音中に %d 回、%d 秒以上音が来ませんでした。合わせて: %s";
static const char kLineBreak[] = "\n";

static const int kDeviceListSize = 640;
static const ULONGLONG kMillisecondsPerSecond = 1000;
static const int kWantedShownSize = 256;

RunOutcome OutcomeOf(const RecordingFacts& facts)
{
    if (facts.workerExitCode == kWorkerDidNotStart)
        return kNothingRecorded;
    if (facts.workerExitCode != 0 || facts.cutShort)
        return kEndedEarly;
    // Silence throughout for a device that never came.
    if (facts.capturedBytes == 0)
        return kNothingRecorded;
    if (facts.silent)
        return kRecordedSilence;
    return facts.gaps > 0 || facts.silences > 0 ? kRecordedWithGaps : kRecordedAsAsked;
}

void FormatGapsMessage(int gaps, DWORD filledSeconds, const Stretches& silences, char text[kGapsMessageSize])
{
    text[0] = '\0';
    char time[kTimeTextSize];
    if (gaps > 0) {
        FormatTime(filledSeconds, time);
        wsprintfA(text, kGapsMessage, gaps, time);
    }
    if (silences.count > 0) {
        if (gaps > 0)
            lstrcatA(text, kLineBreak);
        FormatTime(static_cast<DWORD>(silences.totalMs / kMillisecondsPerSecond), time);
        wsprintfA(text + lstrlenA(text), kSilencesMessage, silences.count,
                  static_cast<int>(kSilenceToldMs / kMillisecondsPerSecond), time);
    }
}

void FormatNoSuchDeviceMessage(const wchar_t* wanted, char text[kNoSuchDeviceMessageSize])
{
    char shown[kWantedShownSize];
    if (!WideTextToProgramText(wanted, shown, sizeof shown))
        shown[0] = '\0';
    char devices[kDeviceListSize];
    ListDevices(devices, sizeof devices);
    wsprintfA(text, kNoSuchDeviceMessage, shown, devices[0] ? devices : kNoDevicesPresent);
}
