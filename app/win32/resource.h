#pragma once

// Resource numbers shared by brindlemark.rc and the C++ code. The control ids are the window's own numbers;
// the C++ side names them in ControlId (mainwindow.h).

#define IDI_BRINDLEMARK 1
#define IDD_MAINWINDOW 100
#define IDD_ABOUTBOX 101
#define IDC_ABOUT_VERSION 1100
