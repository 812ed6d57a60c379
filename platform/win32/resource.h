#pragma once
// Identifiers shared by the resource script and the code.
#define IDD_UPDATE 102
#define IDI_OSTREVAN 128
#define IDC_PROGRESS 1000
#define IDC_STATUS 1003
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
