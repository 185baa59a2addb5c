#pragma once

// Identifiers shared by the dialog template and the code.
#define IDC_RECORD 256
