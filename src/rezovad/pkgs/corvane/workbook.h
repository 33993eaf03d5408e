/* Workbooks opened, read, written, shown and closed through the automation
 * server, and the per-user record of open workbooks (the kill structure)
 * that lets a later session save and close what an earlier one left open.
 * Every function reports failure text into a kMsgSize buffer.
 */
#ifndef TOVIK_CORVANE_WORKBOOK_H
#define TOVIK_CORVANE_WORKBOOK_H

#include "autocall.h"

const int kMaxFiles = 20;
const int kMaxCells = 30;
const int kPathSize = 4096;  // native paths, not the 260 of other systems
const int kTextSize = 64;

struct AvailableFile {
    char name[kPathSize];
    char path[kPathSize];
    int cellCount;
    int slot;
    int selectedCell;
};

struct AvailableCell {
    char sheet[kTextSize];
    char name[kTextSize];
    char value[kTextSize];
    int index;
};

/* The index of the last stored file of the session; -1 starts a session. */
extern int Xls_LastFileIndex;
/* The registry key of the kill structure. */
extern const char *const kKillKey;

extern "C" {
int OpenExcelWorkSheetObject(AvailableFile *file, char *message);
int CloseExcelWorkSheetObject(AvailableFile *files, char *message, int all, const char *saveFlag);
HRESULT ActivateExcelObject(AvailableFile *file, char *message);
HRESULT MakeVisible(int show, char *message);
int GetAvailableCells(AvailableFile *file, AvailableCell *cells, char *message);
int SetAvailableCellValue(AvailableFile *file, AvailableCell *cell, const char *text, char *message);
int GetAvailableCellValue(AvailableFile *file, AvailableCell *cell, char *message);
int DeleteExcelKillStructure(char *message);
}

/* Nulls every workbook slot (a new session's first listing). */
void Wb_ClearSlots(void);
/* The text of a cell's number: fixed point with up to 10 decimals, no "0"
 * before the point, trailing zeros dropped but two kept after a whole
 * number; beyond 40 digits before the point, exponent form. */
void DoubleToCellText(char *text, double value);
/* The leading number of a text in the C locale, 0 when there is none. */
double Wb_LeadingNumber(const char *text);

#endif
