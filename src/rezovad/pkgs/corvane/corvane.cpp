// The xls command: a session of up to five directories and twenty workbook
// files, of which scripts open, read, write, show and close some. Every
// outcome is told in the result text; only `xls error` fails.
#include <tcl.h>
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "obj.h"
#include "registry.h"
#include "workbook.h"

namespace {

const int kMaxDirs = 5;

// Session tables, one set per process.
std::string directories[kMaxDirs];
int directoryCount = 0;
int listed[kMaxDirs];
int sessionMark = 0;
AvailableFile files[kMaxFiles];
int fileCount = 0;
int openOrder[kMaxFiles];
int activation = 0;
int currentFile = -1;
AvailableCell cells[kMaxFiles][kMaxCells];

const char *kHelp =
    "Commands:\t\tAction:\n"
    "(prefaced by \"xls\")\n"
    "_____________________\t_______\n"
    "\n"
    "NOTE:\tA session MUST be begun by specifying which directories to look in\n"
    "\tthrough the call \"xls directories d1 [d2 ...],\" followed by calling\n"
    "\t\"xls files.\"  These can be called repeatedly, but must be called at least\n"
    "\tonce so that the the session has some directories and files available.\n"
    "\n"
    "directories\n"
    "\tlists directories from which files are available\n"
    "directories d1 [d2 ...]\n"
    "\tspecifies directory list to look in for files\n"
    "\t(format: driveName:\\\\dir\\\\subdir\\\\ ... \\\\workingDir\\\\)\n"
    "files\n"
    "\tlists available files (MUST be called to init session)\n"
    "open fromlist\n"
    "\topens \"fromlist\" file from available list\n"
    "close [fromlist|all|everything] [TRUE|FALSE]\n"
    "\tcloses current, \"fromlist\" file, or \"all\" files, with changes either saved, \"TRUE\" or not saved, "
    "\"FALSE\"\n"
    "values [fromlist]\n"
    "\tget sheet-cell-values from current or \"fromlist\" file\n"
    "set cell value\n"
    "\tset \"cell\" (from values list) to \"value\"\n"
    "get cell\n"
    "\tgets value of \"cell\" (where \"cell\" is from values list)\n"
    "current_file\n"
    "\treturns the name of the current file\n"
    "current_files\n"
    "\treturns a list of open files for this session\n"
    "activate\n"
    "\tdisplays the current file, current sheet in the Excel app interface\n"
    "hide\n"
    "\thides the currently displayed file and Excel app\n"
    "select [alreadyOpen]\n"
    "\tchanges program focus to \"alreadyOpen\" file\n"
    "kill [excelObjects]\n"
    "\tcleans up (i.e., \"kills\") all \"excelObjects\" requiring\n"
    "\tthat \"xls directories\" and \"xls files\" be called to re-start.\n";

const char *kUsage = "Error: please try \"xls help\" for command format.";
const char *kNotFound = "INVALID_HANDLE_VALUE has been returned\t\t\t\tfrom a FindFile operation.\n";

void setResult(Tcl_Interp *interp, const std::string &s) { Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), -1)); }

std::string format1(const char *fmt, const char *word) {
    std::vector<char> buf(strlen(fmt) + strlen(word) + 1);
    snprintf(buf.data(), buf.size(), fmt, word);
    return buf.data();
}

void clearFileTable() {
    for (AvailableFile &f : files) {
        memset(&f, 0, sizeof f);
        f.slot = -1;
        f.selectedCell = -1;
    }
}

void ResetXlsTables() {
    sessionMark = 0;
    for (int &l : listed) l = 0;
    for (std::string &d : directories) d.clear();
    clearFileTable();
    memset(openOrder, 0, sizeof openOrder);
    memset(cells, 0, sizeof cells);
}

int findFile(const char *name) {
    for (int i = 0; i < fileCount; i++)
        if (strcmp(files[i].name, name) == 0) return i;
    return -1;
}

int findCell(const char *name) {
    for (int k = 0; k < files[currentFile].cellCount && k < kMaxCells; k++)
        if (strcmp(cells[currentFile][k].name, name) == 0) return k;
    return -1;
}

void makeCurrent(int f) {
    openOrder[f] = ++activation;
    currentFile = f;
}

void noneOpen() {
    memset(openOrder, 0, sizeof openOrder);
    currentFile = -1;
    activation = 0;
}

bool isWorkbookName(const std::string &n) {
    for (const char *ext : {".xls", ".xlsx"}) {
        size_t k = strlen(ext);
        if (n.size() > k && strcasecmp(n.c_str() + n.size() - k, ext) == 0) return true;
    }
    return false;
}

bool isDirectory(const std::string &d) {
    struct stat st;
    return stat(d.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

extern "C" int GetAvailableFileNames(const char *directory, AvailableFile *table, int *count, char *message) {
    if (Xls_LastFileIndex == -1) {
        Wb_ClearSlots();
        bool existed = false;
        int code = Reg_CreateKey(kKillKey, &existed);
        if (code) {
            Msg_Set(message, Reg_ErrorText(code).c_str());
            return code;
        }
        if (existed) {
            int r = DeleteExcelKillStructure(message);
            if (r < 0) return r;
        }
    }
    std::string dir = directory;
    DIR *d = isDirectory(dir) ? opendir(dir.c_str()) : nullptr;
    if (!d) {
        Msg_Set(message, kNotFound);
        return 0;
    }
    // Workbook files of either extension, in any case, in name order.
    std::vector<std::string> names;
    while (struct dirent *e = readdir(d)) {
        std::string n = e->d_name;
        struct stat st;
        if (isWorkbookName(n) && stat((dir + n).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    int result = 1;
    if (names.empty()) {
        Msg_Set(message, kNotFound);
        result = 0;
    }
    for (const std::string &n : names) {
        if (Xls_LastFileIndex + 1 >= kMaxFiles) {
            Msg_Set(message, "The limit of available files for this session has\t\t\t\tbeen reached.\n");
            result = 0;
            break;
        }
        AvailableFile &f = table[++Xls_LastFileIndex];
        snprintf(f.name, kPathSize, "%s", n.c_str());
        snprintf(f.path, kPathSize, "%s%s", directory, n.c_str());
        f.slot = -1;
        f.selectedCell = -1;
        f.cellCount = 0;
    }
    *count = Xls_LastFileIndex + 1;
    return result;
}

namespace {

// xls directories ?dir ...?
// Lists the session's directories, or adds to them (each ending in "/").
int DirectoriesCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc == 2) {
        if (sessionMark == 0) {
            setResult(interp, "No directories have been specified.\nType \"xls help\" for command format.");
            return TCL_OK;
        }
        std::string r;
        for (int i = 0; i < directoryCount; i++) r += (i ? "\n" : "") + directories[i];
        setResult(interp, r);
        return TCL_OK;
    }
    std::string r;
    for (int i = 2; i < argc; i++) {
        std::string w = argv[i];
        if (i > 2) r += "\n";
        bool held = false;
        for (int k = 0; k < directoryCount; k++) held = held || directories[k] == w;
        if (directoryCount == kMaxDirs) {
            r += "\nLimit exceeded:";
            for (int j = i; j < argc; j++) {
                bool h = false;
                for (int k = 0; k < directoryCount; k++) h = h || directories[k] == argv[j];
                r += std::string("\n") + argv[j] + (h ? " is already available." : " cannot be made available.");
            }
            break;
        }
        if (held) r += w + " is already available.";
        else if (w.empty() || w.back() != '/') r += w + ": format incorrect, try \"xls help.\"";
        else if (w.size() >= static_cast<size_t>(kPathSize - 256) || !isDirectory(w)) r += w + " is not a valid directory";
        else {
            if (sessionMark == 0) {
                ResetXlsTables();
                sessionMark = 1;
            }
            directories[directoryCount++] = w;
            r += w;
        }
    }
    setResult(interp, r);
    return TCL_OK;
}

// xls files
// Lists the workbooks of directories not listed yet; answers every file
// of the session, each after a line break.
int FilesCmd(ClientData, Tcl_Interp *interp, int, const char *[]) {
    Tcl_ResetResult(interp);
    for (int i = 0; i < directoryCount; i++) {
        if (listed[i]) continue;
        char message[kMsgSize] = "";
        if (GetAvailableFileNames(directories[i].c_str(), files, &fileCount, message) == 1) listed[i] = 1;
        else setResult(interp, message);
    }
    for (int i = 0; i < fileCount; i++) Tcl_AppendResult(interp, "\n", files[i].name, (char *)nullptr);
    if (fileCount == 0) Tcl_AppendResult(interp, "\n", (char *)nullptr);
    return TCL_OK;
}

// xls open FILE
// Opens a listed file and makes it current; empty on success.
int OpenCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc < 3) {
        setResult(interp, kUsage);
        return TCL_OK;
    }
    int f = findFile(argv[2]);
    if (f < 0) setResult(interp, format1("The file named, %s, is not available.", argv[2]));
    else if (openOrder[f]) setResult(interp, format1("Error: %s is already open.", files[f].name));
    else {
        char message[kMsgSize] = "";
        if (OpenExcelWorkSheetObject(&files[f], message) >= 0) {
            makeCurrent(f);
            Tcl_ResetResult(interp);
        } else {
            setResult(interp, message);
        }
    }
    return TCL_OK;
}

// The open file with the highest activation number, or -1.
int lastActivated() {
    int best = -1;
    for (int i = 0; i < kMaxFiles; i++)
        if (openOrder[i] && (best < 0 || openOrder[i] > openOrder[best])) best = i;
    return best;
}

// xls close ?FILE|all? ?FALSE?
// Closes the current file, the named one or all; FALSE drops the changes.
int CloseCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    Tcl_ResetResult(interp);
    if (currentFile < 0) {
        setResult(interp, "No files are open to be closed.");
        return TCL_OK;
    }
    const char *saveFlag = argc > 3 ? argv[3] : nullptr;
    char message[kMsgSize] = "";
    if (argc > 2 && strcmp(argv[2], "all") == 0) {
        if (CloseExcelWorkSheetObject(files, message, 1, saveFlag) < 0) {
            setResult(interp, message);
        } else {
            // The next listing starts afresh instead of storing every file
            // a second time behind the ones held.
            for (int &l : listed) l = 0;
            clearFileTable();
            memset(cells, 0, sizeof cells);
            fileCount = 0;
            Xls_LastFileIndex = -1;
        }
        noneOpen();
        return TCL_OK;
    }
    int f = currentFile;
    if (argc > 2) {
        f = findFile(argv[2]);
        if (f < 0 || files[f].slot == -1) {
            setResult(interp, format1("Cannot find an open file named %s.", argv[2]));
            return TCL_OK;
        }
    }
    if (CloseExcelWorkSheetObject(&files[f], message, 0, saveFlag) < 0) {
        setResult(interp, message);
        return TCL_OK;
    }
    openOrder[f] = 0;
    if (f == currentFile) {
        currentFile = lastActivated();
        if (currentFile < 0) noneOpen();
    }
    return TCL_OK;
}

// xls values ?FILE?
// One line per defined name of the current or named file: sheet, name and
// value.
int ValuesCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char message[kMsgSize] = "";
    int f = currentFile;
    if (argc > 2) {
        f = findFile(argv[2]);
        if (f < 0) {
            setResult(interp, format1("The file named, %s, is not available.", argv[2]));
            return TCL_OK;
        }
        if (!openOrder[f]) {
            setResult(interp, format1("Error: %s is not open.", argv[2]));
            return TCL_OK;
        }
        if (f != currentFile) {
            if (FAILED(ActivateExcelObject(&files[f], message))) {
                setResult(interp, message);
                return TCL_OK;
            }
            makeCurrent(f);
        }
    } else if (f < 0) {
        setResult(interp, "There is no current file open.");
        return TCL_OK;
    }
    if (GetAvailableCells(&files[f], cells[f], message) < 0) {
        setResult(interp, message);
        return TCL_OK;
    }
    std::string r;
    for (int k = 0; k < files[f].cellCount; k++)
        r += std::string(cells[f][k].sheet) + " " + cells[f][k].name + " " + cells[f][k].value + "\n";
    setResult(interp, r);
    return TCL_OK;
}

// The current file's cell named by word 2, given that there are at least
// `words` words; -1 with the message as the result otherwise.
int wantedCell(Tcl_Interp *interp, int argc, const char *argv[], int words) {
    int k = -1;
    if (currentFile < 0) setResult(interp, "No files are open.");
    else if (argc < words) setResult(interp, kUsage);
    else if ((k = findCell(argv[2])) < 0) setResult(interp, format1("The cell named, %s, is not available.", argv[2]));
    return k;
}

// xls set CELL VALUE
// Writes the leading number of VALUE into the cell; answers the failure
// text, empty when all went well.
int SetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int k = wantedCell(interp, argc, argv, 4);
    if (k >= 0) {
        char message[kMsgSize] = "";
        SetAvailableCellValue(&files[currentFile], &cells[currentFile][k], argv[3], message);
        setResult(interp, message);
    }
    return TCL_OK;
}

// xls get CELL
// The cell's value as text ("3.00", ".5", or the text itself).
int GetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int k = wantedCell(interp, argc, argv, 3);
    if (k >= 0) {
        char message[kMsgSize] = "";
        AvailableCell &c = cells[currentFile][k];
        if (GetAvailableCellValue(&files[currentFile], &c, message) < 0) setResult(interp, message);
        else setResult(interp, c.value);
    }
    return TCL_OK;
}

// xls current_file
int CurrentFileCmd(ClientData, Tcl_Interp *interp, int, const char *[]) {
    setResult(interp, currentFile < 0 ? "No files are currently open." : files[currentFile].name);
    return TCL_OK;
}

// xls current_files
// Each open file's name and a line break, in list order.
int CurrentFilesCmd(ClientData, Tcl_Interp *interp, int, const char *[]) {
    std::string r;
    for (int i = 0; i < kMaxFiles; i++)
        if (openOrder[i]) r += std::string(files[i].name) + "\n";
    setResult(interp, r.empty() ? "No Files are open." : r);
    return TCL_OK;
}

int showOrHide(Tcl_Interp *interp, int show) {
    if (currentFile < 0) {
        setResult(interp, "No files are currently open.");
        return TCL_OK;
    }
    char message[kMsgSize] = "";
    if (MakeVisible(show, message) != 0) setResult(interp, message);
    else Tcl_ResetResult(interp);
    return TCL_OK;
}

// xls activate: shows the workbook program.
int ActivateCmd(ClientData, Tcl_Interp *interp, int, const char *[]) { return showOrHide(interp, 1); }

// xls hide: hides it.
int HideCmd(ClientData, Tcl_Interp *interp, int, const char *[]) { return showOrHide(interp, 0); }

// xls select FILE
// Makes an open file current.
int SelectCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (currentFile < 0) setResult(interp, "No files are open.");
    else if (argc < 3) setResult(interp, "Type \"xls help\" for command format.");
    else {
        int f = findFile(argv[2]);
        char message[kMsgSize] = "";
        if (f < 0) setResult(interp, format1("The file named, %s, is not available.", argv[2]));
        else if (!openOrder[f]) setResult(interp, format1("Error: %s is not open.", argv[2]));
        else if (FAILED(ActivateExcelObject(&files[f], message))) setResult(interp, message);
        else {
            makeCurrent(f);
            Tcl_ResetResult(interp);
        }
    }
    return TCL_OK;
}

// xls kill
// Saves and closes every workbook the record lists and ends the session.
int KillCmd(ClientData, Tcl_Interp *interp, int, const char *[]) {
    Tcl_ResetResult(interp);
    char message[kMsgSize] = "";
    if (DeleteExcelKillStructure(message) < 0) Tcl_AppendResult(interp, message, (char *)nullptr);
    ResetXlsTables();
    activation = 0;
    currentFile = -1;
    fileCount = 0;
    directoryCount = 0;
    Xls_LastFileIndex = -1;
    return TCL_OK;
}

// xls help
int HelpCmd(ClientData, Tcl_Interp *interp, int, const char *[]) {
    setResult(interp, kHelp);
    return TCL_OK;
}

// xls error: fails with an empty result.
int ErrorCmd(ClientData, Tcl_Interp *interp, int, const char *[]) {
    Tcl_ResetResult(interp);
    return TCL_ERROR;
}

const SubCmdEntry kXlsCmds[] = {
    {"directories", DirectoriesCmd}, {"files", FilesCmd},
    {"open", OpenCmd},               {"close", CloseCmd},
    {"values", ValuesCmd},           {"set", SetCmd},
    {"get", GetCmd},                 {"current_file", CurrentFileCmd},
    {"current_files", CurrentFilesCmd}, {"help", HelpCmd},
    {"hide", HideCmd},               {"activate", ActivateCmd},
    {"select", SelectCmd},           {"kill", KillCmd},
    {"error", ErrorCmd},             {nullptr, nullptr},
};

}  // namespace

extern "C" {

int Corvane_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Corvane", "1.0");
    if (code != TCL_OK) return code;
    static bool tablesReady = false;
    if (!tablesReady) {
        clearFileTable();
        tablesReady = true;
    }
    Cmds_CreateSwitchCmd(interp, "xls", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "xls", kXlsCmds);
    return Obj_Init(interp);
}

// xls deletes and renames files: untrusted code does not get it; a master
// can still reach it with `interp invokehidden`.
int Corvane_SafeInit(Tcl_Interp *interp) {
    int code = Corvane_Init(interp);
    if (code != TCL_OK) return code;
    return Tcl_HideCommand(interp, "xls", "xls");
}

}  // extern "C"
