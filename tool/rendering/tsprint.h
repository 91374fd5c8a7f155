// tsexTool table output: the five tables over the global lists, laid out by
// the shared column table (common/column_table.h). The column windows
// computed from the data, centred cells, rule lines and the heading row of
// each table.
#ifndef TSEXTOOL_TSPRINT_H
#define TSEXTOOL_TSPRINT_H

// The logger, for the modules that still reach it through this header.
#include "tslog.h"

// Column windows: the width of each column's widest text, raised (never
// lowered) by the width computations; a cell is window + 2 wide. Tables
// with a column of the same heading share its window.
extern unsigned int g_uiVlunNameWindow;
extern unsigned int g_uiDevLunWWNWindow;
extern unsigned int g_uiPathStatusWindow;
extern unsigned int g_uiCapacityWindow;
extern unsigned int g_uiDevLunNameWindow;
extern unsigned int g_uiVidPidWindow;
extern unsigned int g_uiCtrlWindow;
extern unsigned int g_uiArrayNameWindow;
extern unsigned int g_uiArraySNWindow;
extern unsigned int g_uiDevLunIDWindow;
extern unsigned int g_uiPathHCTLWindow;
extern unsigned int g_uiPathNameWindow;
extern unsigned int g_uiPathCtrlWindow;
extern unsigned int g_uiPortTypeWindow;
extern unsigned int g_uiPortIDWindow;
extern unsigned int g_uiInitPortWindow;
extern unsigned int g_uiTargetPortWindow;
extern unsigned int g_uiPhypathAliasWindow;
extern unsigned int g_uiDeviceNameWindow;
extern unsigned int g_uiAlarmLevelWindow;
extern unsigned int g_uiAlarmDescriptionWindow;

// Rule-line lengths: the sum of a table's cells.
extern unsigned int g_uiVlunTotalWindow;
extern unsigned int g_uiVlunPathTotalWindow;
extern unsigned int g_uiPhypathTotalWindow;
extern unsigned int g_uiDeviceTotalWindow;
extern unsigned int g_uiAlarmTotalWindow;

// The largest of the three.
unsigned int CHOOSE_LEN(unsigned int current, unsigned int length, unsigned int floor);
// count times ch, flushed.
void print_dash(unsigned int count, char ch);
// One centred cell, flushed; a null text, or one wider than the cell, is
// said (level 2) and not printed.
void print_str_in_mid(const char* text, unsigned int width);

void PrintVlunHeaderWindows();
void PrintDeviceHeaderWindows();
void PrintPathHeaderWindows();
void PrintPhypathHeaderWindows();
void PrintAlarmHeaderWindows();

void CalcVlunWindowLen();
void CalcPathWindowLen();
void CalcPhypathWindowLen();
void CalcDeviceWindowLen();
void CalcAlarmWindowLen();

// The tables. Each entry point computes its widths, prints its table framed
// by rule lines of '=' (or a one-line message when there is nothing to show),
// flushes and returns 0: printing never fails a command.
int tsprint_VlunTopolopy();
// The vlun table, then the path table, for the vlun named (a dm name).
int tsprint_VlunPathTopolopy(const char* name);
// The path table; name (an sd name, or null) only words the empty message.
int tsprint_PathTopolopy(const char* name);
int tsprint_PhypathTopolopy();
// The device table; name (or null) only words the empty message.
int tsprint_DeviceTopolopy(const char* name);
int tsprint_AlarmList();

// Row printers: the table's heading row, then one row per record.
void PrintVlunTopolopy();
void PrintPathTopolopy();
void PrintPhypathTopolopy();
void PrintDeviceTopolopy();
void PrintAlarmList();

#endif  // TSEXTOOL_TSPRINT_H
