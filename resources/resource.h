#pragma once

// Identifiers shared by the resource script and the code.
#define IDD_RECORDER 102
#define IDI_PROGRAM 103
// Windows builds a program's activation context from this manifest ID alone
// (CREATEPROCESS_MANIFEST_RESOURCE_ID).
#define IDR_MANIFEST 1

#define IDC_RECORD 256
#define IDC_SAVE 257
#define IDC_MONO 1002
#define IDC_STEREO 1003
#define IDC_16KHZ 1006
#define IDC_22KHZ 1007
#define IDC_24KHZ 1008
#define IDC_32KHZ 1009
#define IDC_44KHZ 1010
#define IDC_48KHZ 1011
#define IDC_COUNTER 1012
#define IDC_REMAIN 1013
#define IDC_BITRATE 1014
