#pragma once

#define IDD_MINIMAL 101
