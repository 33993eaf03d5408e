// ltwod: the 2-D data display widget. A float matrix (typically a
// spectrogram: columns along time, rows upwards) drawn as a colour image or
// as an OpenGL surface, with marks, peaks per column and row, region labels
// over those peaks kept in "2DLABELV1.0" files, and image analysis into
// "arrayF" objects.
#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "glwindow.h"
#include "lyre.h"
#include "lyre_axis.h"
#include "lyre_frame.h"
#include "ltwod_analysis.h"
#include "ltwod_colors.h"
#include "ltwod_labels.h"
#include "ltwod_overlay.h"
#include "ltwod_peaks.h"
#include "obj.h"
#include "records.h"

namespace {

struct PeakRange {
  int first, last;
};

struct Label {
  int classIndex = -1;  // -1 until saved
  int id = 0;
  int firstColumn = -1, columnEnd = -1, currentColumn = -1;
  int firstRow = -1, rowEnd = -1, currentRow = -1;
  bool active = true;
  bool point = false;
  std::vector<PeakRange> columnRanges, rowRanges;
  std::vector<std::pair<int, int>> points;
};

// The parts of the widget that Tk's option table does not address.
struct Matrix {
  std::vector<float> values;  // column after column
  std::vector<const float *> rows;
  bool Empty() const { return values.empty(); }
  void Clear() { values.clear(), rows.clear(); }
};

struct Priv {
  Matrix data, red, green, blue;
  int columns = 0, rows = 0;  // the loaded shape
  LtwodPeaks columnPeaks, rowPeaks;
  LtwodTextureGrid grid;
  bool hasGrid = false;
  std::vector<Label> labels;
  std::unique_ptr<Label> edit;
  std::vector<LtwodLabelClass> classes;
  std::vector<unsigned long> pixels;
  std::vector<unsigned char> imageBuffer;
};

}  // namespace

struct Ltwod {
  Tk_Window tkwin;
  Display *display;
  Tcl_Interp *interp;
  Tcl_Command widgetCmd;
  int rows, columns;
  double begin, resolution, msPerPixel;
  int fitToWindow, geometryDirty;
  double colPerSecond, centreShown, centreRequested;
  int firstPixel, firstRequested, totalPixels;
  double gamma, minFraction, maxFraction, lowValue, highValue;
  float dataMin, dataMax;
  XColor *markColour;
  GC markGC;
  double xMarkMs;
  int xMarkPixel, xMarkDrawn;
  double yMarkFraction;
  int yMarkPixel, yMarkDrawn;
  char *xScrollCommand;
  int pendingShift;
  int damageX, damageY, damageWidth, damageHeight;
  Tk_Cursor cursor;
  Pixmap pixmap;
  int pixmapWidth, pixmapHeight;
  XImage *image;
  int imageWidth, imageHeight;
  int width, height;
  int numColours, coloursInUse;
  char *colourList;
  XColor *lowColour, *highColour;
  Tk_3DBorder border;
  GC copyGC;
  int redisplayPending, scrollPending;
  int threeD, displayColumnPeaks, doubleBuffered;
  LtwodGLWindow *gl;
  int filterType, edgeType, histogramType, planesType;
  int textureX, textureY, textureStartX, textureStartY, textureEndX, textureEndY;
  int clickCount, stopFlag, markFlag, surfaceFlag, labelType;
  Colormap allocatedIn;  // the colormap holding the colour table
  double goodResolution, goodColPerSecond;
  Priv *p;
};

#define LT(field) offsetof(Ltwod, field)
#define LT_INT(opt, db, cls, def, field) {TK_CONFIG_INT, opt, db, cls, def, LT(field), 0, nullptr}

static Tk_ConfigSpec ltwodSpecs[] = {
    {TK_CONFIG_ACTIVE_CURSOR, "-cursor", "cursor", "Cursor", "arrow", LT(cursor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_STRING, "-xscrollcommand", "xScrollCommand", "XScrollCommand", "", LT(xScrollCommand), TK_CONFIG_NULL_OK, nullptr},
    LT_INT("-width", "width", "Width", "400", width),
    LT_INT("-height", "height", "Height", "150", height),
    LT_INT("-columns", "columns", "Columns", "0", columns),
    LT_INT("-rows", "rows", "Rows", "0", rows),
    {TK_CONFIG_DOUBLE, "-resolution", "resolution", "Resolution", "1.0", LT(resolution), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-begin", "begin", "Begin", "0.0", LT(begin), 0, nullptr},
    {TK_CONFIG_BORDER, "-background", "background", "Background", "white", LT(border), TK_CONFIG_COLOR_ONLY, nullptr},
    {TK_CONFIG_BORDER, "-background", "background", "Background", "white", LT(border), TK_CONFIG_MONO_ONLY, nullptr},
    {TK_CONFIG_SYNONYM, "-bg", "background", nullptr, nullptr, 0, 0, nullptr},
    {TK_CONFIG_COLOR, "-markcolor", "markColor", "MarkColor", "yellow", LT(markColour), TK_CONFIG_COLOR_ONLY, nullptr},
    {TK_CONFIG_COLOR, "-markcolor", "markColor", "MarkColor", "black", LT(markColour), TK_CONFIG_MONO_ONLY, nullptr},
    {TK_CONFIG_BOOLEAN, "-fittowindow", "fitToWindow", "FitToWindow", "0", LT(fitToWindow), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-colpersecond", "colPerSecond", "ColPerSecond", "1000.0", LT(colPerSecond), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-gamma", "gamma", "Gamma", "1.0", LT(gamma), 0, nullptr},
    LT_INT("-numcolors", "numColors", "NumColors", "25", numColours),
    {TK_CONFIG_COLOR, "-lowcolor", "lowColor", "LowColor", "white", LT(lowColour), TK_CONFIG_COLOR_ONLY, nullptr},
    {TK_CONFIG_COLOR, "-highcolor", "highColor", "HighColor", "red", LT(highColour), TK_CONFIG_COLOR_ONLY, nullptr},
    {TK_CONFIG_COLOR, "-lowcolor", "lowColor", "LowColor", "white", LT(lowColour), TK_CONFIG_MONO_ONLY, nullptr},
    {TK_CONFIG_COLOR, "-highcolor", "highColor", "HighColor", "black", LT(highColour), TK_CONFIG_MONO_ONLY, nullptr},
    {TK_CONFIG_DOUBLE, "-min", "min", "Min", "0.0", LT(minFraction), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-max", "max", "Max", "1.0", LT(maxFraction), 0, nullptr},
    {TK_CONFIG_STRING, "-colors", "colors", "Colors", "", LT(colourList), TK_CONFIG_NULL_OK, nullptr},
    LT_INT("-threed", "threed", "Threed", "0", threeD),
    LT_INT("-displaycolumnpeaks", "displaycolumnpeaks", "Displaycolumnpeaks", "1", displayColumnPeaks),
    LT_INT("-doublebuffered", "doublebuffered", "Doublebuffered", "1", doubleBuffered),
    LT_INT("-filtertype", "filtertype", "Filtertype", "0", filterType),
    LT_INT("-edgetype", "edgetype", "Edgetype", "0", edgeType),
    LT_INT("-histogramtype", "histogramtype", "Histogramtype", "0", histogramType),
    LT_INT("-planestype", "planestype", "Planestype", "0", planesType),
    LT_INT("-texturex", "texturex", "Texturex", "0", textureX),
    LT_INT("-texturey", "texturey", "Texturey", "0", textureY),
    LT_INT("-texturestartx", "texturestartx", "Texturestartx", "0", textureStartX),
    LT_INT("-texturestarty", "texturestarty", "Texturestarty", "0", textureStartY),
    LT_INT("-textureendx", "textureendx", "Textureendx", "0", textureEndX),
    LT_INT("-textureendy", "textureendy", "Textureendy", "0", textureEndY),
    LT_INT("-clickcount", "clickcount", "Clickcount", "0", clickCount),
    LT_INT("-stopflag", "stopflag", "Stopflag", "0", stopFlag),
    LT_INT("-markflag", "markflag", "Markflag", "1", markFlag),
    LT_INT("-surface", "surfaceflag", "Surfaceflag", "0", surfaceFlag),
    LT_INT("-labeltype", "labeltype", "Labeltype", "1", labelType),
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr}};

static const char *kCommandList =
    "center, cget, configure, data, height, label, msectopix, pixtomsec, value, width, xmark, xview, ymark";

// Process-wide state of the widget family.
static std::string labelClassesText;
static struct {
  int x0 = -1, y0, x1, y1;
} xySquare;
static Ltwod *textureWidget = nullptr;  // whose grid the plane view overlays

static void DisplayLtwod(ClientData cd);
static void ScheduleRedisplay(Ltwod *w);

static int WinWidth(Ltwod *w) { return w->tkwin ? Tk_Width(w->tkwin) : 0; }
static int WinHeight(Ltwod *w) { return w->tkwin ? Tk_Height(w->tkwin) : 0; }
static bool HasData(Ltwod *w) { return !w->p->data.Empty(); }
static const float *const *Cells(Ltwod *w) { return w->p->data.rows.data(); }

static int ToInt(double v) { return Lyre_ToInt(v); }
static int FloorInt(double v) { return Lyre_ToInt(v, true); }

static void SetInt(Tcl_Interp *interp, long v) { Lyre_SetInt(interp, v); }
static void SetDouble(Tcl_Interp *interp, double v) { Lyre_SetDouble(interp, v); }

// ---------------------------------------------------------------- geometry

static int ColumnOfPixel(Ltwod *w, int x) {
  return FloorInt(w->colPerSecond * w->msPerPixel * 0.001 * (x + w->firstPixel));
}

static int RowOfY(Ltwod *w, int y) {
  int h = WinHeight(w);
  if (h <= 0) return -1;
  return w->p->rows - (int)((long)w->p->rows * y / h) - 1;
}

static void UpdateGeometry(Ltwod *w) {
  w->msPerPixel = w->resolution;
  if (!HasData(w)) {
    w->centreRequested = w->xMarkMs = -1.0;
    w->totalPixels = w->firstPixel = w->firstRequested = 0;
    w->xMarkPixel = w->xMarkDrawn = w->yMarkPixel = w->yMarkDrawn = -1;
    return;
  }
  int ww = WinWidth(w);
  if (w->tkwin && Tk_IsMapped(w->tkwin)) {
    if (w->fitToWindow && ww > 0) {
      w->msPerPixel = w->p->columns * 1000.0 / (ww * w->colPerSecond);
      w->centreRequested = -1.0;
      w->firstRequested = 0;
    }
    if (w->centreRequested >= 0) w->firstRequested = FloorInt((w->centreRequested - w->begin) / w->msPerPixel) - ww / 2;
    w->xMarkPixel = w->xMarkMs >= 0 ? FloorInt((w->xMarkMs - w->begin) / w->msPerPixel) : -1;
    w->yMarkPixel = w->yMarkFraction >= 0 ? (int)(WinHeight(w) * w->yMarkFraction) : -1;
  }
  w->totalPixels = ToInt(w->p->columns * 1000.0 / w->colPerSecond / w->msPerPixel - 0.001);
}

static void RecomputeRange(Ltwod *w) {
  double span = (double)w->dataMax - w->dataMin;
  w->lowValue = w->dataMin + span * w->minFraction;
  w->highValue = w->dataMin + span * w->maxFraction;
}

// ---------------------------------------------------------------- labels

static void ReadClasses(Ltwod *w) {
  if (w->p->classes.empty()) w->p->classes = LtwodReadLabelClasses(LtwodLabelClassPath(getenv("TOVIK_PREFIX")));
}

static int ClassByName(Ltwod *w, const std::string &name) {
  for (const LtwodLabelClass &c : w->p->classes)
    if (c.name == name) return c.index;
  return -1;
}

static bool ByColumns(Ltwod *w) { return w->labelType & 1; }

static bool InRange(const std::vector<PeakRange> &ranges, int first, int at, int seq) {
  int k = at - first;
  return k >= 0 && k < (int)ranges.size() && seq >= ranges[k].first && seq <= ranges[k].last;
}

static bool HoldsColumnPeak(const Label &l, int column, int seq) {
  return l.firstColumn >= 0 && column < l.columnEnd && InRange(l.columnRanges, l.firstColumn, column, seq);
}
static bool HoldsRowPeak(const Label &l, int row, int seq) {
  return l.firstRow >= 0 && row < l.rowEnd && InRange(l.rowRanges, l.firstRow, row, seq);
}

static Label *LabelOfColumnPeak(Ltwod *w, int column, int seq, bool all) {
  for (Label &l : w->p->labels)
    if ((all || l.active) && HoldsColumnPeak(l, column, seq)) return &l;
  return nullptr;
}
static Label *LabelOfRowPeak(Ltwod *w, int row, int seq, bool all) {
  for (Label &l : w->p->labels)
    if ((all || l.active) && HoldsRowPeak(l, row, seq)) return &l;
  return nullptr;
}

static bool Inside(Ltwod *w, int c, int r) { return c >= 0 && c < w->p->columns && r >= 0 && r < w->p->rows; }

static Label *LabelAt(Ltwod *w, int c, int r, bool all) {
  if (!Inside(w, c, r) || w->p->labels.empty()) return nullptr;
  if (ByColumns(w)) {
    const LtwodPeak *pk = w->p->columnPeaks.Find(c, r);
    return pk ? LabelOfColumnPeak(w, c, pk->sequence, all) : nullptr;
  }
  const LtwodPeak *pk = w->p->rowPeaks.Find(r, c);
  return pk ? LabelOfRowPeak(w, r, pk->sequence, all) : nullptr;
}

static int LabelNumberAt(Ltwod *w, int c, int r) {
  Label *l = LabelAt(w, c, r, true);
  return l ? l->id : 0;
}

static int NextLabelId(Ltwod *w) {
  int id = 0;
  for (const Label &l : w->p->labels) id = std::max(id, l.id);
  return id + 1;
}

static void LabelInfo(Ltwod *w) {
  Label *l = w->p->edit.get();
  if (!l || l->point) return;
  int k = l->currentColumn - l->firstColumn;
  PeakRange r = k >= 0 && k < (int)l->columnRanges.size() ? l->columnRanges[k] : PeakRange{-1, -1};
  char buf[96];
  snprintf(buf, sizeof buf, "%d %d %d %d %d", l->id, l->currentColumn, r.first, r.last,
           w->p->columnPeaks.Count(l->currentColumn));
  Tcl_AppendResult(w->interp, buf, (char *)NULL);
}

static void FreeLabels(Ltwod *w) {
  w->p->labels.clear();
  w->p->edit.reset();
}

static int StartLabel(Ltwod *w, int column, int row, int flag) {
  Tcl_Interp *interp = w->interp;
  int n = 0;
  if (ByColumns(w)) {
    const LtwodPeak *pk = Inside(w, column, row) ? w->p->columnPeaks.Find(column, row) : nullptr;
    n = pk ? pk->sequence : 0;
    if (n <= 0) {
      Tcl_SetResult(interp, (char *)"No column peak", TCL_STATIC);
      return TCL_ERROR;
    }
  } else {
    const LtwodPeak *pk = Inside(w, column, row) ? w->p->rowPeaks.Find(row, column) : nullptr;
    if (!pk || pk->sequence <= 0) {
      Tcl_SetResult(interp, (char *)"No row peak", TCL_STATIC);
      return TCL_ERROR;
    }
  }
  int id = LabelNumberAt(w, column, row);
  if (id <= 0 && flag == 0) {
    Tcl_SetResult(interp, (char *)"Not labeled", TCL_STATIC);
    return TCL_ERROR;
  }
  std::unique_ptr<Label> l(new Label);
  if (flag == 0) {
    for (const Label &old : w->p->labels)
      if (old.id == id) *l = old;
  } else if (flag == 2) {
    l->id = NextLabelId(w);
    l->firstColumn = l->columnEnd = l->firstRow = l->rowEnd = l->currentRow = 0;
    l->point = true;
    l->points.push_back({column, row});
  } else {
    l->id = NextLabelId(w);
    l->firstColumn = column, l->columnEnd = column + 1;
    l->columnRanges.push_back({n, n});
  }
  l->active = true;
  l->currentColumn = column;
  w->p->edit = std::move(l);
  LabelInfo(w);
  return TCL_OK;
}

// A column peak that exists and that no saved label holds.
static bool FreeColumnPeak(Ltwod *w, int column, int seq) {
  return w->p->columnPeaks.FindByNumber(column, seq) && !LabelOfColumnPeak(w, column, seq, true);
}

static void ExtendToColumn(Ltwod *w, Label *l, int n) {
  if (n >= l->firstColumn && n < l->columnEnd) {
    l->currentColumn = n;
    return;
  }
  bool left = n == l->firstColumn - 1 && l->currentColumn == l->firstColumn;
  bool right = n == l->columnEnd && l->currentColumn == l->columnEnd - 1;
  if ((!left && !right) || n < 0 || n >= w->p->columns) return;
  int k = l->currentColumn - l->firstColumn;
  if (k < 0 || k >= (int)l->columnRanges.size()) return;
  const LtwodPeak *a = w->p->columnPeaks.FindByNumber(l->currentColumn, l->columnRanges[k].first);
  const LtwodPeak *b = w->p->columnPeaks.FindByNumber(l->currentColumn, l->columnRanges[k].last);
  if (!a || !b) return;
  int lo = -1, hi = -1;
  for (int r = a->first; r <= b->last; r++) {
    const LtwodPeak *pk = w->p->columnPeaks.Find(n, r);
    if (!pk || LabelOfColumnPeak(w, n, pk->sequence, true)) continue;
    lo = lo < 0 ? pk->sequence : std::min(lo, (int)pk->sequence);
    hi = std::max(hi, (int)pk->sequence);
  }
  if (lo < 0) return;
  if (left) {
    l->columnRanges.insert(l->columnRanges.begin(), {lo, hi});
    l->firstColumn--;
  } else {
    l->columnRanges.push_back({lo, hi});
    l->columnEnd++;
  }
  l->currentColumn = n;
}

static void WidenRange(Label *l, std::vector<PeakRange> &ranges, int first, int at, int seq) {
  (void)l;
  PeakRange &r = ranges[at - first];
  if (r.first < 0) r = {seq, seq};
  r.first = std::min(r.first, seq), r.last = std::max(r.last, seq);
}

// Ranges of a point label from its polygon; false with the message.
static bool LabelFromPolygon(Ltwod *w, Label *l) {
  const auto &pts = l->points;
  int c0 = pts[0].first, c1 = c0, r0 = pts[0].second, r1 = r0;
  for (auto &pt : pts) c0 = std::min(c0, pt.first), c1 = std::max(c1, pt.first), r0 = std::min(r0, pt.second), r1 = std::max(r1, pt.second);
  if (c0 < 0 || r0 < 0 || c1 >= w->p->columns || r1 >= w->p->rows) {
    Tcl_SetResult(w->interp, (char *)(ByColumns(w) ? "No column peak" : "No row peak"), TCL_STATIC);
    return false;
  }
  l->firstColumn = c0, l->columnEnd = c1 + 1, l->firstRow = r0, l->rowEnd = r1 + 1;
  bool cols = ByColumns(w);
  auto &ranges = cols ? l->columnRanges : l->rowRanges;
  ranges.assign(cols ? c1 - c0 + 1 : r1 - r0 + 1, PeakRange{-1, -1});
  size_t n = pts.size();
  for (size_t k = 0; k < n; k++) {
    auto a = pts[k], b = pts[(k + 1) % n];
    // Along columns: the row at each column of the edge; along rows the
    // other way round.
    int a1 = cols ? a.first : a.second, a2 = cols ? a.second : a.first;
    int b1 = cols ? b.first : b.second, b2 = cols ? b.second : b.first;
    std::vector<std::pair<int, int>> cells;
    if (a1 == b1) {
      cells = {{a1, a2}, {b1, b2}};
    } else {
      if (a1 > b1) std::swap(a1, b1), std::swap(a2, b2);
      for (int c = a1; c <= b1; c++) cells.push_back({c, (int)(a2 + (double)(b2 - a2) * (c - a1) / (b1 - a1))});
    }
    for (auto &cell : cells) {
      const LtwodPeak *pk = cols ? w->p->columnPeaks.Find(cell.first, cell.second)
                                 : w->p->rowPeaks.Find(cell.first, cell.second);
      if (!pk) {
        Tcl_SetResult(w->interp, (char *)(cols ? "No column peak" : "No row peak"), TCL_STATIC);
        return false;
      }
      WidenRange(l, ranges, cols ? c0 : r0, cell.first, pk->sequence);
    }
  }
  if (!cols) l->firstColumn = l->columnEnd = -1;
  l->points.clear();
  l->point = false;
  return true;
}

// The id list words: blanks, commas and full stops all separate.
static std::vector<std::string> ListWords(const char *text) {
  std::vector<std::string> out;
  std::string cur;
  for (const char *c = text;; c++) {
    if (!*c || *c == ' ' || *c == ',' || *c == '.' || *c == '\t' || *c == '\n') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
      if (!*c) break;
    } else {
      cur += *c;
    }
  }
  return out;
}

// ------------------------------------------------------------ label files

static void WriteRuns(std::ostream &out, const std::vector<PeakRange> &ranges, int first, const char *many,
                      const char *one) {
  size_t k = 0;
  while (k < ranges.size()) {
    size_t e = k;
    while (e + 1 < ranges.size() && ranges[e + 1].first == ranges[k].first && ranges[e + 1].last == ranges[k].last) e++;
    char buf[128];
    if (e > k)
      snprintf(buf, sizeof buf, "%s %d-%d %d-%d\n", many, first + (int)k, first + (int)e, ranges[k].first, ranges[k].last);
    else
      snprintf(buf, sizeof buf, "%s %d %d-%d\n", one, first + (int)k, ranges[k].first, ranges[k].last);
    out << buf;
    k = e + 1;
  }
}

static int WriteLabelFile(Ltwod *w, const char *path, const char *wave) {
  std::ofstream out(path);
  if (!out) {
    Tcl_AppendResult(w->interp, "Unable to open label file ", path, " for write", (char *)NULL);
    return TCL_ERROR;
  }
  char buf[64];
  snprintf(buf, sizeof buf, "%f\n", w->colPerSecond);
  out << "2DLABELV1.0\n" << LtwodCorpusRelativeName(wave) << "\n" << buf;
  bool cols = w->labelType & 1, rows = w->labelType & 2;
  for (const Label &l : w->p->labels) {
    const std::string &cls = l.classIndex >= 0 ? w->p->classes[l.classIndex].name : std::string("?");
    out << "LABEL " << l.id << " " << cls << " ";
    if (cols) out << l.firstColumn << "-" << l.columnEnd; else out << "-1--1";
    out << " ";
    if (cols && rows) out << l.firstRow << "-" << l.rowEnd;
    else if (!cols) out << l.firstRow << "-" << l.rowEnd;
    else out << "-1--1";
    out << "\n";
    if (cols) WriteRuns(out, l.columnRanges, l.firstColumn, "LCS", "LC");
    if (rows && l.firstRow >= 0) WriteRuns(out, l.rowRanges, l.firstRow, "LRS", "LR");
  }
  out.flush();
  if (!out) {
    Tcl_AppendResult(w->interp, "Unable to open label file ", path, " for write", (char *)NULL);
    return TCL_ERROR;
  }
  return TCL_OK;
}

static std::string FirstWord(const std::string &line) {
  std::istringstream s(line);
  std::string word;
  s >> word;
  return word;
}

// Reads runs of ranges for [first, end) into ranges; "" or the message.
static std::string ReadRuns(std::istream &in, int first, int end, std::vector<PeakRange> *ranges, const char *many,
                            const char *one, const char *what) {
  ranges->assign(end - first, PeakRange{-1, -1});
  int next = first;
  std::string line;
  while (next < end) {
    if (!std::getline(in, line)) return std::string("Missing ") + what + " line";
    std::istringstream s(line);
    std::string tag;
    s >> tag;
    int a = 0, b = 0, p = 0, q = 0;
    char d1 = 0, d2 = 0;
    bool ok;
    if (tag == many) {
      ok = (bool)(s >> a >> d1 >> b >> p >> d2 >> q) && d1 == '-' && d2 == '-';
    } else if (tag == one) {
      ok = (bool)(s >> a >> p >> d2 >> q) && d2 == '-';
      b = a;
    } else {
      ok = false;
    }
    if (!ok || a != next || b < a || b >= end) return std::string("Invalid ") + what + " line";
    for (int k = a; k <= b; k++) (*ranges)[k - first] = {p, q};
    next = b + 1;
  }
  return "";
}

// "LABEL id class c0-c1 r0-r1" or without the rows; false for another line.
static bool ParseHeader(const std::string &line, int *id, std::string *cls, int *c0, int *c1, int *r0, int *r1) {
  std::istringstream s(line);
  std::string tag, cols, rows;
  if (!(s >> tag >> *id >> *cls >> cols) || tag != "LABEL") return false;
  auto pair = [](const std::string &t, int *a, int *b) {
    char *end;
    const char *c = t.c_str();
    long x = strtol(c, &end, 10);
    if (end == c || *end != '-') return false;
    const char *d = end + 1;
    long y = strtol(d, &end, 10);
    if (end == d || *end) return false;
    if (x < -1 || y < -1 || x > 1L << 30 || y > 1L << 30) return false;
    *a = (int)x, *b = (int)y;
    return true;
  };
  if (!pair(cols, c0, c1)) return false;
  *r0 = *r1 = -1;
  if (s >> rows) return pair(rows, r0, r1);
  return true;
}

static int ReadLabelFile(Ltwod *w, const char *path, const char *wave) {
  Tcl_Interp *interp = w->interp;
  ReadClasses(w);
  FreeLabels(w);
  std::ifstream in(path);
  if (!in) {
    Tcl_AppendResult(interp, "Unable to open label file ", path, " for read", (char *)NULL);
    return TCL_ERROR;
  }
  auto fail = [&](const std::string &msg) {
    FreeLabels(w);
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "LABEL read - ", msg.c_str(), (char *)NULL);
    return TCL_ERROR;
  };
  std::string line;
  std::getline(in, line);
  std::string word = FirstWord(line);
  if (word.empty()) return fail("Invalid 2D Label ID Line");
  if (word != "2DLABELV1.0") return fail("Invalid 2D Label ID " + word);
  line.clear();
  std::getline(in, line);
  word = FirstWord(line);
  if (word.empty()) return fail("Invalid wavefilename line");
  std::string reduced = LtwodCorpusRelativeName(wave);
  if (word != reduced) return fail("Current wave " + reduced + " does not match original wave " + word);
  line.clear();
  std::getline(in, line);
  double rate;
  if (sscanf(line.c_str(), "%lf", &rate) != 1) return fail("Invalid framerate line");
  // The file holds the rate to six decimals: compare at that precision.
  if (!(std::fabs(rate - w->colPerSecond) <= 5e-7 + 1e-9 * std::fabs(w->colPerSecond))) {
    char buf[200];
    snprintf(buf, sizeof buf, "Framerate %f does not match original framerate %f", w->colPerSecond, rate);
    return fail(buf);
  }
  while (std::getline(in, line)) {
    Label l;
    std::string cls;
    if (!ParseHeader(line, &l.id, &cls, &l.firstColumn, &l.columnEnd, &l.firstRow, &l.rowEnd)) break;
    l.active = false;
    l.currentColumn = l.firstColumn, l.currentRow = l.firstRow;
    // Bounds outside the matrix would make ranges no cell can hold, or
    // huge tables: refused.
    if (l.firstColumn >= 0 && (l.columnEnd <= l.firstColumn || l.columnEnd > w->p->columns))
      return fail("Invalid LABELCOLUMN line");
    if (l.firstRow >= 0 && (l.rowEnd <= l.firstRow || l.rowEnd > w->p->rows)) return fail("Invalid LABELROW line");
    if (l.firstColumn < 0) {
      w->labelType &= ~1;
    } else {
      w->labelType |= 1;
      std::string err = ReadRuns(in, l.firstColumn, l.columnEnd, &l.columnRanges, "LCS", "LC", "LABELCOLUMN");
      if (!err.empty()) return fail(err);
    }
    if (l.firstRow < 0) {
      w->labelType &= ~2;
    } else {
      w->labelType |= 2;
      std::string err = ReadRuns(in, l.firstRow, l.rowEnd, &l.rowRanges, "LRS", "LR", "LABELROW");
      if (!err.empty()) return fail(err);
    }
    l.classIndex = ClassByName(w, cls);
    if (l.classIndex < 0) {
      FreeLabels(w);
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, cls.c_str(), " - Invalid labelclass name", (char *)NULL);
      return TCL_ERROR;
    }
    w->p->labels.push_back(std::move(l));
  }
  // Row peaks are needed once labels follow them.
  if ((w->labelType & 2) && w->p->rowPeaks.Empty() && HasData(w))
    w->p->rowPeaks.Compute(Cells(w), w->p->columns, w->p->rows, LtwodDirection::Rows);
  return TCL_OK;
}

// ------------------------------------------------------------- data load

enum Target { kData, kRed, kGreen, kBlue };

static Matrix &TargetMatrix(Ltwod *w, Target t) {
  switch (t) {
    case kRed: return w->p->red;
    case kGreen: return w->p->green;
    case kBlue: return w->p->blue;
    default: return w->p->data;
  }
}

static void FreeTextureGrid(Ltwod *w) {
  w->p->grid = LtwodTextureGrid();
  w->p->hasGrid = false;
}

static int SetData(Ltwod *w, const char *name, Target t) {
  Tcl_Interp *interp = w->interp;
  Matrix &m = TargetMatrix(w, t);
  m.Clear();
  if (t == kData) {
    w->p->columnPeaks.Clear();
    w->p->rowPeaks.Clear();
    FreeTextureGrid(w);
    FreeLabels(w);
  }
  if (!*name) {
    if (t == kData) w->p->columns = w->p->rows = w->columns = w->rows = 0;
    return TCL_OK;
  }
  ArrayRecord *a = static_cast<ArrayRecord *>(Obj_GetData(interp, "arrayF", name));
  if (!a) {
    Tcl_AppendResult(interp, " expecting 2-D arrayf object", (char *)NULL);
    return TCL_ERROR;
  }
  if (a->ndims != 2 || a->dims[0] < 1 || a->dims[1] < 1) {
    Tcl_SetResult(interp, (char *)"expecting a 2-D arrayf object", TCL_STATIC);
    return TCL_ERROR;
  }
  int cols = a->dims[0], rows = a->dims[1];
  if (t != kData && (cols != w->p->columns || rows != w->p->rows)) {
    Tcl_SetResult(interp, (char *)"invalid C/R values in 2-D arrayf object", TCL_STATIC);
    return TCL_ERROR;
  }
  size_t n = (size_t)cols * rows;
  if (m.values.capacity() < n) {
    // A fresh buffer, advised before its first touch.
    std::vector<float>().swap(m.values);
    m.values.reserve(n);
    LyreAdviseHugePages(m.values.data(), n * sizeof(float));
  }
  m.values.assign(a->data, a->data + n);
  m.rows.resize(cols);
  for (int c = 0; c < cols; c++) m.rows[c] = m.values.data() + (size_t)c * rows;
  if (t != kData) return TCL_OK;
  w->p->columns = w->columns = cols;
  w->p->rows = w->rows = rows;
  float mx = m.values[0], mn = m.values[0];
  for (float v : m.values) {
    if (v > mx) mx = v;
    if (v >= -1e10f && v < mn) mn = v;
  }
  w->dataMin = mn, w->dataMax = mx;
  RecomputeRange(w);
  if (w->firstRequested > 0) {
    int hi = ToInt((cols - 1) * 1000.0 / w->colPerSecond / w->msPerPixel) - WinWidth(w);
    w->firstRequested = std::max(0, std::min(w->firstRequested, hi));
  }
  w->xMarkMs = w->yMarkFraction = -1.0;
  w->xMarkPixel = w->xMarkDrawn = w->yMarkPixel = w->yMarkDrawn = -1;
  w->p->columnPeaks.Compute(Cells(w), cols, rows, LtwodDirection::Columns);
  if (w->labelType & 2) w->p->rowPeaks.Compute(Cells(w), cols, rows, LtwodDirection::Rows);
  return TCL_OK;
}

// ----------------------------------------------------------- colour table

static void FreeColours(Ltwod *w) {
  if (!w->p->pixels.empty() && w->display && w->allocatedIn)
    XFreeColors(w->display, w->allocatedIn, w->p->pixels.data(), (int)w->p->pixels.size(), 0);
  w->p->pixels.clear();
}

static bool AllocTable(Ltwod *w, Colormap cmap, const std::vector<LtwodRgb16> &colours) {
  for (const LtwodRgb16 &c : colours) {
    XColor x{};
    x.red = c.r, x.green = c.g, x.blue = c.b;
    x.flags = DoRed | DoGreen | DoBlue;
    if (!XAllocColor(w->display, cmap, &x)) {
      XFreeColors(w->display, cmap, w->p->pixels.data(), (int)w->p->pixels.size(), 0);
      w->p->pixels.clear();
      return false;
    }
    w->p->pixels.push_back(x.pixel);
  }
  return true;
}

static int AllocColours(Ltwod *w, Colormap cmap) {
  Tcl_Interp *interp = w->interp;
  FreeColours(w);
  w->allocatedIn = cmap;
  std::vector<LtwodRgb16> table;
  bool list = w->colourList && *w->colourList;
  if (list) {
    std::string err;
    if (!LtwodParseColorList(w->colourList, &table, &err)) {
      Tcl_SetResult(interp, (char *)err.c_str(), TCL_VOLATILE);
      return TCL_ERROR;
    }
  } else {
    int n = w->numColours, depth = Tk_Depth(w->tkwin);
    if (depth < 4) n = std::min(n, 1 << depth);
    n = std::max(n, 2);
    n = std::min(n, 65536);  // one colour per 16-bit step is already more than a screen shows
    LtwodRgb16 lo{w->lowColour->red, w->lowColour->green, w->lowColour->blue};
    LtwodRgb16 hi{w->highColour->red, w->highColour->green, w->highColour->blue};
    ReadClasses(w);
    if (w->p->classes.empty()) {
      Tcl_SetResult(interp, (char *)"File 'labelclasses.dat' not found or invalid", TCL_STATIC);
      return TCL_ERROR;
    }
    for (int i = 0; i < n; i++) table.push_back(LtwodRampColor(i, n, w->gamma, lo, hi));
  }
  if (list) ReadClasses(w);
  for (const LtwodLabelClass &c : w->p->classes)
    table.push_back({(uint16_t)(int)(c.red * 65535.0), (uint16_t)(int)(c.green * 65535.0), (uint16_t)(int)(c.blue * 65535.0)});
  w->coloursInUse = (int)table.size();
  if (!AllocTable(w, cmap, table)) {
    if (list) Tcl_SetResult(interp, (char *)"Cannot allocate all colors", TCL_STATIC);
    return TCL_ERROR;
  }
  return TCL_OK;
}

// ------------------------------------------------------------ configure

static void SetupWindow(Ltwod *w, int *code) {
  Tk_SetWindowBackground(w->tkwin, Tk_3DBorderColor(w->border)->pixel);
  if (!w->copyGC) {
    XGCValues v;
    v.function = GXcopy;
    v.graphics_exposures = True;
    w->copyGC = Tk_GetGC(w->tkwin, GCFunction | GCGraphicsExposures, &v);
  }
  if (AllocColours(w, Tk_Colormap(w->tkwin)) != TCL_OK) *code = TCL_ERROR;
  Tk_GeometryRequest(w->tkwin, w->width, w->height);
  Tk_SetInternalBorder(w->tkwin, 0);
}

static int ConfigureLtwod(Ltwod *w, int argc, const char **argv, int flags) {
  Tcl_Interp *interp = w->interp;
  if (Tk_ConfigureWidget(interp, w->tkwin, ltwodSpecs, argc, argv, (char *)w, flags) != TCL_OK) return TCL_ERROR;
  int code = TCL_OK;
  // The shape belongs to the loaded matrix: other values would read past it.
  if (w->columns != w->p->columns || w->rows != w->p->rows) {
    bool given = flags & TK_CONFIG_ARGV_ONLY;
    w->columns = w->p->columns, w->rows = w->p->rows;
    if (given) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("-columns and -rows follow the data (%d x %d)", w->columns, w->rows));
      code = TCL_ERROR;
    }
  }
  // A scale that is not positive would divide by zero or never end a loop.
  if (!(w->resolution > 0) || !std::isfinite(w->resolution) || !(w->colPerSecond > 0) || !std::isfinite(w->colPerSecond)) {
    bool res = !(w->resolution > 0) || !std::isfinite(w->resolution);
    w->resolution = w->goodResolution, w->colPerSecond = w->goodColPerSecond;
    Tcl_SetResult(interp, (char *)(res ? "-resolution must be a positive number" : "-colpersecond must be a positive number"),
                  TCL_STATIC);
    code = TCL_ERROR;
  }
  w->goodResolution = w->resolution, w->goodColPerSecond = w->colPerSecond;
  w->coloursInUse = w->numColours;
  UpdateGeometry(w);
  w->xMarkDrawn = -1;
  if (HasData(w)) RecomputeRange(w);
  if (!w->threeD) SetupWindow(w, &code);
  XGCValues v;
  v.function = GXxor;
  v.foreground = w->markColour->pixel;
  v.graphics_exposures = True;
  if (w->markGC) Tk_FreeGC(w->display, w->markGC);
  w->markGC = Tk_GetGC(w->tkwin, GCFunction | GCForeground | GCGraphicsExposures, &v);
  ScheduleRedisplay(w);
  return code;
}

// ----------------------------------------------------------- the drawing

struct DrawContext {
  int width, height, x0, y0, x1, y1, xStart, xEnd;
  float low, range;
  bool trueColour;
  int coloursInUse;
};

static DrawContext NewDrawContext(Ltwod *w) {
  DrawContext d{};
  d.width = WinWidth(w), d.height = WinHeight(w);
  d.x0 = w->damageX < 0 ? 0 : w->damageX;
  d.x1 = w->damageWidth < 0 ? d.width : d.x0 + w->damageWidth;
  d.y0 = w->damageY < 0 ? 0 : w->damageY;
  d.y1 = w->damageHeight < 0 ? d.height : d.y0 + w->damageHeight;
  d.x1 = std::min(d.x1, d.width), d.y1 = std::min(d.y1, d.height);
  d.low = (float)w->lowValue;
  d.range = (float)(w->highValue - w->lowValue);
  if (d.range == 0) d.range = 1.0f;
  int cls = Tk_Visual(w->tkwin)->c_class;
  d.trueColour = cls == TrueColor || cls == DirectColor;
  d.coloursInUse = w->coloursInUse;
  return d;
}

static void PrepareImage(Ltwod *w, int width, int height) {
  if (w->pixmap && (w->pixmapWidth != width || w->pixmapHeight != height)) {
    Tk_FreePixmap(w->display, w->pixmap);
    w->pixmap = None;
  }
  if (!w->pixmap) {
    w->pixmap = Tk_GetPixmap(w->display, Tk_WindowId(w->tkwin), width, height, Tk_Depth(w->tkwin));
    w->pixmapWidth = width, w->pixmapHeight = height;
  }
  if (w->image && (w->imageWidth != width || w->imageHeight != height)) {
    w->image->data = nullptr;  // the buffer is ours
    XDestroyImage(w->image);
    w->image = nullptr;
  }
  if (!w->image) {
    w->image = XCreateImage(w->display, Tk_Visual(w->tkwin), Tk_Depth(w->tkwin), ZPixmap, 0, nullptr, width, height, 32, 0);
    if (!w->image) return;
    w->p->imageBuffer.assign((size_t)w->image->bytes_per_line * height + 4, 0);
    w->image->data = reinterpret_cast<char *>(w->p->imageBuffer.data());
    w->imageWidth = width, w->imageHeight = height;
  }
}

static void DrawImage(Ltwod *w, DrawContext &d) {
  if (!w->image || w->p->pixels.empty()) return;
  int classCount = (int)w->p->classes.size();
  int m = std::max(1, d.coloursInUse - classCount);
  int rows = w->p->rows, h = d.height;
  const float *const *cells = Cells(w);
  bool direct32 = w->image->bits_per_pixel == 32;
  std::vector<unsigned long> &pix = w->p->pixels;
  bool anyLabel = !w->p->labels.empty();
  for (int x = d.xStart; x <= d.xEnd && x < d.width; x++) {
    if (x < 0) continue;
    int c = ColumnOfPixel(w, x);
    if (c < 0 || c >= w->p->columns) continue;
    const float *col = cells[c];
    for (int y = d.y0; y < d.y1; y++) {
      int r = (int)((long)(h - y - 1) * rows / h);
      float o = (col[r] - d.low) / d.range;
      if (!(o >= 0)) o = 0;
      if (o > 1) o = 1;
      int index = std::min((int)(m * o), m - 1);
      if (anyLabel) {
        Label *l = LabelAt(w, c, r, false);
        if (l && l->classIndex >= 0) index = l->classIndex + d.coloursInUse - classCount;
      }
      if (index < 0 || index >= (int)pix.size()) index = 0;
      unsigned long px = d.trueColour ? pix[index] : pix[index];
      if (direct32)
        reinterpret_cast<uint32_t *>(w->image->data + (size_t)y * w->image->bytes_per_line)[x] = (uint32_t)px;
      else
        XPutPixel(w->image, x, y, px);
    }
  }
  int xs = std::max(d.xStart, 0), xe = std::min(d.xEnd, d.width - 1);
  if (xe >= xs && d.y1 > d.y0)
    XPutImage(w->display, w->pixmap, w->copyGC, w->image, xs, d.y0, xs, d.y0, xe - xs + 1, d.y1 - d.y0);
  int mx = w->xMarkPixel - w->firstPixel;
  if (w->xMarkPixel >= 0 && w->xMarkPixel < w->totalPixels && mx >= d.x0 && mx <= d.x1) {
    XDrawLine(w->display, w->pixmap, w->markGC, mx, 0, mx, d.height);
    w->xMarkDrawn = w->xMarkPixel;
  }
  if (w->yMarkPixel >= 0 && w->yMarkPixel >= d.y0 && w->yMarkPixel <= d.y1) {
    XDrawLine(w->display, w->pixmap, w->markGC, d.x0, w->yMarkPixel, d.x1, w->yMarkPixel);
    w->yMarkDrawn = w->yMarkPixel;
  }
}

// Vertex colour of cell (c, r); false when the vertex is left out.
static bool SetPointColor(Ltwod *w, int c, int r) {
  float v = Cells(w)[c][r];
  if (w->planesType) {
    float rgb[3];
    Matrix *planes[3] = {&w->p->red, &w->p->green, &w->p->blue};
    for (int k = 0; k < 3; k++) rgb[k] = planes[k]->Empty() ? 0.0f : (float)pow(planes[k]->rows[c][r], w->gamma);
    if (rgb[0] == 0 && rgb[1] == 0 && rgb[2] == 0) {
      double span = (double)w->dataMax - w->dataMin;
      float g = span > 0 ? (float)(1 - pow((v - w->dataMin) / span, w->gamma)) : 1.0f;
      rgb[0] = rgb[1] = rgb[2] = g;
    }
    glColor3f(rgb[0], rgb[1], rgb[2]);
    return true;
  }
  LtwodRgb pure, shaded;
  if (w->displayColumnPeaks) {
    if (LtwodPeakColor(w->p->columnPeaks.Line(c), r, v, w->lowValue, w->highValue, &pure, &shaded) < 0) return false;
    glColor3f(shaded.r, shaded.g, shaded.b);
    return true;
  }
  if (LabelAt(w, c, r, false)) {
    int rank = LtwodPeakColor(w->p->columnPeaks.Line(c), r, v, w->lowValue, w->highValue, &pure, &shaded);
    if (rank >= 0 && rank < kLtwodPeakColorCount) glColor3f(LtwodPeakColors[rank].r, LtwodPeakColors[rank].g, LtwodPeakColors[rank].b);
    else glColor3f(0, 0, 0);
    return true;
  }
  float g = 0.6666667f * LtwodValueShade(v, w->lowValue, w->highValue);
  glColor3f(g, g, g);
  return true;
}

static void DrawSurfaceCell(Ltwod *w, int i, int j, int c0, int c1) {
  const float *const *cells = Cells(w);
  bool label = LabelAt(w, i, j, false) != nullptr;
  float lo = (float)w->lowValue, range = (float)(w->highValue - w->lowValue);
  if (range == 0) range = 1;
  int ci[4] = {i + 1, i, i + 1, i}, rj[4] = {j + 1, j, j, j + 1};
  float z[2][2];
  bool any = cells[i][j] > lo || cells[i + 1][j] > lo || cells[i][j + 1] > lo || cells[i + 1][j + 1] > lo;
  if (!any && !(label && !w->displayColumnPeaks)) return;
  for (int a = 0; a < 2; a++)
    for (int b = 0; b < 2; b++) z[a][b] = any ? (cells[i + a][j + b] - lo) / range : 0.01f;
  double span = c1 - c0, rowsSpan = w->p->rows - 1;
  auto vertex = [&](int c, int r) {
    if (!SetPointColor(w, c, r)) return;
    glVertex3f((float)((c - c0) / span), (float)(r / rowsSpan), z[c - i][r - j]);
  };
  glBegin(GL_TRIANGLES);
  vertex(ci[0], rj[0]), vertex(ci[1], rj[1]), vertex(ci[2], rj[2]);
  vertex(ci[0], rj[0]), vertex(ci[3], rj[3]), vertex(ci[1], rj[1]);
  glEnd();
}

static void DrawThreeD(Ltwod *w, DrawContext &d) {
  if (!w->gl || !LtwodGLMakeCurrent(w->gl)) return;
  if (!w->doubleBuffered) glDrawBuffer(GL_FRONT);
  else glDrawBuffer(GL_BACK);
  int ww = std::max(d.width, 1), hh = std::max(d.height, 1);
  glEnable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(15, (double)ww / hh, 1, 10);
  glViewport(0, 0, ww, hh);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glScaled((double)ww / hh, 1, 0.4);
  glTranslated(-0.5, -0.5, -9.5);
  glColor3f(1, 1, 1);
  glBegin(GL_QUADS);
  glVertex3f(0, 0, 0), glVertex3f(0, 1, 0), glVertex3f(1, 1, 0), glVertex3f(1, 0, 0);
  glEnd();
  double k = w->msPerPixel * w->colPerSecond * 0.001;
  int c0 = FloorInt(k * w->firstPixel);
  int c1 = FloorInt((ww + w->firstPixel + 1) * k - 0.001);
  if (c1 > c0 && w->p->rows > 1)
    for (int i = std::max(c0, 0); i < c1 && i < w->p->columns - 1; i++)
      for (int j = 0; j < w->p->rows - 1; j++) DrawSurfaceCell(w, i, j, c0, c1);
  if (w->planesType && textureWidget && textureWidget->p->hasGrid && w->surfaceFlag) {
    const LtwodTextureGrid &g = textureWidget->p->grid;
    auto vertex = [&](int a, int b) { LtwodOverlayVertex(g.At(a, b), c0, c1, w->p->rows); };
    glBegin(GL_TRIANGLES);
    for (int a = 0; a + 1 < g.columns; a++)
      for (int b = 0; b + 1 < g.rows; b++) {
        vertex(a + 1, b + 1), vertex(a, b), vertex(a + 1, b);
        vertex(a + 1, b + 1), vertex(a, b + 1), vertex(a, b);
      }
    glEnd();
  }
  glFlush();
  if (w->doubleBuffered) glXSwapBuffers(w->display, Tk_WindowId(w->tkwin));
  else glFinish();
  LtwodGLRelease(w->gl);
  w->xMarkDrawn = w->yMarkDrawn = -1;
}

static void UpdateScrollbar(Ltwod *w) {
  if (!w->xScrollCommand || !*w->xScrollCommand || !HasData(w)) return;
  double lo, hi;
  LyreScrollFractions(w->firstPixel, WinWidth(w), w->totalPixels, &lo, &hi);
  char buf[80];
  snprintf(buf, sizeof buf, " %g %g", lo, hi);
  Tcl_Interp *interp = w->interp;
  Tcl_Preserve(interp);
  std::string script = std::string(w->xScrollCommand) + buf;
  if (Tcl_EvalEx(interp, script.c_str(), -1, TCL_EVAL_GLOBAL) != TCL_OK) {
    Tcl_AddErrorInfo(interp, "\n    (horizontal scrolling command executed by twod)");
    Tcl_BackgroundError(interp);
  }
  Tcl_Release(interp);
}

static void DisplayLtwod(ClientData cd) {
  Ltwod *w = static_cast<Ltwod *>(cd);
  w->firstPixel = w->firstRequested;
  w->redisplayPending = w->scrollPending = 0;
  if (!w->tkwin || !Tk_IsMapped(w->tkwin)) return;
  if (w->geometryDirty) {
    UpdateGeometry(w);
    w->geometryDirty = 0;
  }
  DrawContext d = NewDrawContext(w);
  if (d.width > 0 && d.height > 0) {
    bool image = !w->threeD && !w->planesType;
    if (!w->threeD) {
      PrepareImage(w, d.width, d.height);
      Tk_Fill3DRectangle(w->tkwin, w->pixmap, w->border, d.x0, d.y0, d.x1 - d.x0, d.y1 - d.y0, 0, TK_RELIEF_FLAT);
    }
    if (HasData(w)) {
      d.xStart = w->firstPixel + d.x0 < 0 ? -w->firstPixel : d.x0;
      d.xEnd = w->firstPixel + d.x1 >= w->totalPixels ? w->totalPixels - w->firstPixel : d.x1;
      if (w->planesType || w->threeD) DrawThreeD(w, d);
      else DrawImage(w, d);
    }
    if (image || (!w->threeD && !w->planesType))
      XCopyArea(w->display, w->pixmap, Tk_WindowId(w->tkwin), w->copyGC, d.x0, d.y0, d.x1 - d.x0, d.y1 - d.y0, d.x0, d.y0);
  }
  w->damageX = w->damageY = w->damageWidth = w->damageHeight = -1;
  w->centreShown = (w->firstPixel + WinWidth(w) / 2) * w->msPerPixel + w->begin;
  UpdateScrollbar(w);
}

static void ScheduleRedisplay(Ltwod *w) {
  if (!w->tkwin) return;
  if (w->redisplayPending) {
    w->damageX = -1;
  } else {
    Tcl_DoWhenIdle(DisplayLtwod, w);
    w->redisplayPending = 1;
  }
}

static void ScrollProc(ClientData cd) {
  Ltwod *w = static_cast<Ltwod *>(cd);
  w->scrollPending = 0;
  int shift = w->pendingShift;
  w->pendingShift = 0;
  if (shift == 0 || !w->tkwin || !Tk_IsMapped(w->tkwin)) return;
  int ww = WinWidth(w), hh = WinHeight(w);
  if (std::abs(shift) >= ww || w->threeD || w->planesType) {
    w->damageX = w->damageY = w->damageWidth = w->damageHeight = -1;
  } else {
    XCopyArea(w->display, Tk_WindowId(w->tkwin), Tk_WindowId(w->tkwin), w->copyGC, shift > 0 ? 0 : -shift, 0,
              ww - std::abs(shift), hh, shift > 0 ? shift : 0, 0);
    w->damageX = shift > 0 ? 0 : ww + shift;
    w->damageWidth = std::abs(shift);
    w->damageY = 0, w->damageHeight = hh;
    w->xMarkDrawn = -1;
  }
  DisplayLtwod(w);
}

static void RequestScroll(Ltwod *w, int oldFirst) {
  if (w->redisplayPending) return;
  int diff = oldFirst - w->firstRequested;
  if (w->scrollPending) {
    w->pendingShift += diff;
  } else {
    w->pendingShift = diff;
    Tcl_DoWhenIdle(ScrollProc, w);
    w->scrollPending = 1;
  }
}

// ------------------------------------------------------------------ marks

static void DrawXMark(Ltwod *w) {
  if (!w->tkwin || !Tk_IsMapped(w->tkwin) || w->threeD || w->planesType) return;
  Window win = Tk_WindowId(w->tkwin);
  int ww = WinWidth(w), hh = WinHeight(w);
  int drawnX = w->xMarkDrawn - w->firstPixel;
  if (w->xMarkDrawn >= 0 && drawnX >= 0 && drawnX < ww) XDrawLine(w->display, win, w->markGC, drawnX, 0, drawnX, hh);
  if (w->xMarkPixel < 0 || w->xMarkPixel >= w->totalPixels) {
    w->xMarkDrawn = -1;
    return;
  }
  int x = w->xMarkPixel - w->firstPixel;
  if (x >= 0 && x < ww) XDrawLine(w->display, win, w->markGC, x, 0, x, hh);
  w->xMarkDrawn = w->xMarkPixel;
}

static void DrawYMark(Ltwod *w) {
  if (!w->tkwin || !Tk_IsMapped(w->tkwin) || w->threeD || w->planesType) return;
  Window win = Tk_WindowId(w->tkwin);
  int ww = WinWidth(w), hh = WinHeight(w);
  if (w->yMarkDrawn >= 0 && w->yMarkDrawn < hh) XDrawLine(w->display, win, w->markGC, 0, w->yMarkDrawn, ww, w->yMarkDrawn);
  if (w->yMarkPixel < 0) {
    w->yMarkDrawn = -1;
    return;
  }
  XDrawLine(w->display, win, w->markGC, 0, w->yMarkPixel, ww, w->yMarkPixel);
  w->yMarkDrawn = w->yMarkPixel;
}

static void FillColumns(Ltwod *w) {
  if (!w->tkwin || !Tk_IsMapped(w->tkwin) || xySquare.x0 < 0) return;
  for (int x = xySquare.x0; x < xySquare.x1; x++)
    XDrawLine(w->display, Tk_WindowId(w->tkwin), w->markGC, x, xySquare.y0, x, xySquare.y1);
}

// ------------------------------------------------------------ sub-commands

static int Usage(Ltwod *w, const char *path, const char *synopsis, bool two = false) {
  Lyre_Usage(w->interp, path, synopsis, two);
  return TCL_ERROR;
}

static bool GetInt(Tcl_Interp *interp, const char *s, int *out) { return Tcl_GetInt(interp, s, out) == TCL_OK; }

static int XmarkCmd(Ltwod *w, int argc, const char **argv) {
  if (!w->markFlag) return TCL_OK;
  if (argc == 2) {
    SetDouble(w->interp, w->xMarkMs);
    return TCL_OK;
  }
  if (!HasData(w)) {
    Tcl_SetResult(w->interp, (char *)"-1", TCL_STATIC);
    return TCL_OK;
  }
  if (argc == 3) {
    int x;
    if (!GetInt(w->interp, argv[2], &x)) return TCL_ERROR;
    w->xMarkPixel = x + w->firstPixel;
    w->xMarkMs = (x + w->firstPixel) * w->msPerPixel + w->begin;
  } else if (argc == 4) {
    double ms;
    if (Tcl_GetDouble(w->interp, argv[2], &ms) != TCL_OK) return TCL_ERROR;
    w->xMarkMs = ms;
    w->xMarkPixel = FloorInt((ms - w->begin) / w->msPerPixel);
  } else {
    return Usage(w, argv[0], " xmark ([x] | [m msec])");
  }
  DrawXMark(w);
  SetDouble(w->interp, w->xMarkMs);
  return TCL_OK;
}

static int YmarkCmd(Ltwod *w, int argc, const char **argv) {
  if (!w->markFlag) return TCL_OK;
  if (argc == 2) {
    SetDouble(w->interp, w->yMarkFraction);
    return TCL_OK;
  }
  if (!HasData(w)) {
    Tcl_SetResult(w->interp, (char *)"-1", TCL_STATIC);
    return TCL_OK;
  }
  int hh = WinHeight(w);
  if (argc == 3) {
    int y;
    if (!GetInt(w->interp, argv[2], &y)) return TCL_ERROR;
    w->yMarkPixel = y;
    w->yMarkFraction = hh > 0 ? (double)y / hh : 0.0;
  } else if (argc == 4) {
    double f;
    if (Tcl_GetDouble(w->interp, argv[2], &f) != TCL_OK) return TCL_ERROR;
    w->yMarkFraction = f;
    w->yMarkPixel = ToInt(f * hh);
  } else {
    return Usage(w, argv[0], " ymark (<y> | <y> %)");
  }
  DrawYMark(w);
  SetDouble(w->interp, w->yMarkFraction);
  return TCL_OK;
}

static int XysquareCmd(Ltwod *w, int argc, const char **argv) {
  if (argc == 3 && !strcmp(argv[2], "initialize")) {
    xySquare.x0 = -1;
  } else if (argc == 3 && !strcmp(argv[2], "terminate")) {
    FillColumns(w);
  } else if (argc == 6) {
    int v[4];
    for (int k = 0; k < 4; k++)
      if (!GetInt(w->interp, argv[2 + k], &v[k])) return TCL_ERROR;
    FillColumns(w);
    xySquare.x0 = std::min(v[0], v[2]), xySquare.x1 = std::max(v[0], v[2]);
    xySquare.y0 = std::min(v[1], v[3]), xySquare.y1 = std::max(v[1], v[3]);
    FillColumns(w);
  } else {
    Lyre_WrongArgs(w->interp, argv[0], " xysquare [initialize | startx starty endx endy]");
    return TCL_ERROR;
  }
  return TCL_OK;
}

static bool Safe(Ltwod *w, const char *what) {
  if (!Tcl_IsSafe(w->interp)) return false;
  Tcl_AppendResult(w->interp, what, " is not available in a safe interpreter", (char *)NULL);
  return true;
}

static int ColormapCmd(Ltwod *w, int argc, const char **argv) {
  if (argc != 3) return Usage(w, argv[0], " colormap <filename>");
  if (Safe(w, "colormap")) return TCL_ERROR;
  int code = TCL_OK;
  if (strcmp(argv[2], "normal") == 0) {
    LtwodLoadPeakColors("normal");
  } else if (!LtwodLoadPeakColors(argv[2])) {
    Tcl_AppendResult(w->interp, argv[0], " Unable to open colormap file", argv[2], (char *)NULL);
    code = TCL_ERROR;
  }
  ScheduleRedisplay(w);
  return code;
}

static int PlanesCmd(Ltwod *w, int argc, const char **argv) {
  if (argc < 3 || argc > 6)
    return Usage(w, argv[0], " planes intensityplane (redplane|NULL (greenplane|NULL (blueplane|NULL)))");
  int code = TCL_OK;
  if (SetData(w, argv[2], kData) != TCL_OK) {
    Tcl_AppendResult(w->interp, argv[2], " error in intensity object", (char *)NULL);
    code = TCL_ERROR;
  }
  Target targets[3] = {kRed, kGreen, kBlue};
  for (int k = 3; code == TCL_OK && k < argc; k++) {
    if (strcmp(argv[k], "NULL") == 0) continue;
    if (SetData(w, argv[k], targets[k - 3]) != TCL_OK) {
      if (targets[k - 3] == kBlue) Tcl_AppendResult(w->interp, argv[k], " expecting 2-D arrayf blue object", (char *)NULL);
      code = TCL_ERROR;
    }
  }
  w->planesType = 1;
  UpdateGeometry(w);
  DisplayLtwod(w);
  while (Tcl_DoOneEvent(TCL_DONT_WAIT)) {
  }
  return code;
}

// An "arrayF" of two dimensions, or null with the message.
static ArrayRecord *Array2D(Tcl_Interp *interp, const char *name, const char *expecting) {
  ArrayRecord *a = static_cast<ArrayRecord *>(Obj_GetData(interp, "arrayF", name));
  if (!a || a->ndims != 2) {
    if (a) Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, name, expecting, (char *)NULL);
    return nullptr;
  }
  return a;
}

static LtwodMatrix MatrixOf(Ltwod *w) { return {Cells(w), w->p->columns, w->p->rows, w->dataMin, w->dataMax}; }

static int ShapeError(Tcl_Interp *interp, const char *name, const char *want) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, name, " must have ", want, (char *)NULL);
  return TCL_ERROR;
}

static bool NoData(Ltwod *w) {
  if (HasData(w)) return false;
  Tcl_AppendResult(w->interp, Tk_PathName(w->tkwin), " has no data", (char *)NULL);
  return true;
}

static int FilterCmd(Ltwod *w, int argc, const char **argv) {
  if (argc != 4) return Usage(w, argv[0], " filter type filterarray");
  int type = atoi(argv[2]);
  if (type < 1 || type > 4) {
    Tcl_AppendResult(w->interp, argv[0], " Invalid filter type ", argv[2], (char *)NULL);
    return TCL_ERROR;
  }
  ArrayRecord *a = Array2D(w->interp, argv[3], " expecting 2-D arrayf object");
  if (!a || NoData(w)) return TCL_ERROR;
  LtwodFilter(MatrixOf(w), type, a->data, a->dims[0], a->dims[1]);
  return TCL_OK;
}

static int EdgeCmd(Ltwod *w, int argc, const char **argv) {
  if (argc != 5) return Usage(w, argv[0], " edge type magarray oriarray");
  if (atoi(argv[2]) != 1) {
    Tcl_AppendResult(w->interp, argv[0], " Invalid edge type", argv[2], (char *)NULL);
    return TCL_ERROR;
  }
  ArrayRecord *mag = Array2D(w->interp, argv[3], " expecting 2-D arrayf object");
  if (!mag) return TCL_ERROR;
  ArrayRecord *ori = Array2D(w->interp, argv[4], " expecting 2-D arrayf object");
  if (!ori || NoData(w)) return TCL_ERROR;
  if (ori->dims[0] != mag->dims[0] || ori->dims[1] != mag->dims[1])
    return ShapeError(w->interp, argv[4], "the shape of the magnitude array");
  LtwodEdge(MatrixOf(w), mag->data, ori->data, mag->dims[0], mag->dims[1]);
  return TCL_OK;
}

static int HistogramCmd(Ltwod *w, int argc, const char **argv) {
  if (argc != 5) return Usage(w, argv[0], " histogram type edgemagnitude array histogramarrays");
  int type = atoi(argv[2]);
  if (type < 0 || type > 3) {
    Tcl_AppendResult(w->interp, argv[0], " Invalid histogram type ", argv[2], (char *)NULL);
    return TCL_ERROR;
  }
  ArrayRecord *mag = Array2D(w->interp, argv[3], " expecting 2-D arrayf object");
  if (!mag) return TCL_ERROR;
  ArrayRecord *hist = Array2D(w->interp, argv[4], " expecting 2-D arrayf object");
  if (!hist || NoData(w)) return TCL_ERROR;
  if (mag->dims[0] != w->p->columns || mag->dims[1] != w->p->rows)
    return ShapeError(w->interp, argv[3], "the shape of the data");
  LtwodHistogram(MatrixOf(w), mag->data, hist->data, hist->dims[0], hist->dims[1]);
  return TCL_OK;
}

static int TextureCmd(Ltwod *w, int argc, const char **argv) {
  if (argc != 9)
    return Usage(w, argv[0], " texture intensityarray  redarray greenarray bluearray gaussianarray meanarray clusterarray");
  static const char *expect[7] = {" expecting intensity 2-D object", " expecting red 2-D object",
                                  " expecting green 2-D object",     " expecting blue 2-D object",
                                  " expecting Gaussian 2-D object",  " expecting mean 2-D object",
                                  " expecting cluster 2-D object"};
  ArrayRecord *a[7];
  for (int k = 0; k < 7; k++)
    if (!(a[k] = Array2D(w->interp, argv[2 + k], expect[k]))) return TCL_ERROR;
  if (NoData(w)) return TCL_ERROR;
  int L1 = a[0]->dims[0], L2 = a[0]->dims[1];
  for (int k : {1, 2, 3, 4, 6})
    if (a[k]->dims[0] != L1 || a[k]->dims[1] != L2) return ShapeError(w->interp, argv[2 + k], "the shape of the intensity array");
  LtwodTextureRegion reg{w->textureStartX, w->textureStartY, w->textureEndX, w->textureEndY, w->textureX, w->textureY};
  if (reg.startX < 0 || reg.startY < 0 || reg.endX > w->p->columns || reg.endY > w->p->rows || reg.startX >= reg.endX ||
      reg.startY >= reg.endY) {
    Tcl_SetObjResult(w->interp, Tcl_ObjPrintf("texture region %d-%d x %d-%d must lie in the %d x %d data", reg.startX,
                                              reg.endX, reg.startY, reg.endY, w->p->columns, w->p->rows));
    return TCL_ERROR;
  }
  if (w->surfaceFlag) FreeTextureGrid(w);
  LtwodTextureFeatures(MatrixOf(w), reg, L1, L2, a[0]->data, a[1]->data, a[2]->data, a[3]->data, a[4]->data, a[6]->data,
                       w->surfaceFlag ? &w->p->grid : nullptr);
  if (w->surfaceFlag) w->p->hasGrid = true;
  textureWidget = w;
  return TCL_OK;
}

static int LabelCmd(Ltwod *w, int argc, const char **argv) {
  Tcl_Interp *interp = w->interp;
  const char *path = argv[0];
  if (argc < 3) {
    Tcl_AppendResult(interp, " Invalid label option ", (char *)NULL);
    return TCL_ERROR;
  }
  std::string op = argv[2];
  Label *edit = w->p->edit.get();
  auto twoInts = [&](const char *usage, int *a, int *b) {
    if (argc != 5) {
      Usage(w, path, usage);
      return false;
    }
    return GetInt(interp, argv[3], a) && GetInt(interp, argv[4], b);
  };
  int c, r;
  if (op == "new" || op == "edit") {
    if (argc != 6) return Usage(w, path, op == "new" ? " label new column row newflag" : " label edit column row newflag");
    int flag;
    if (!GetInt(interp, argv[3], &c) || !GetInt(interp, argv[4], &r) || !GetInt(interp, argv[5], &flag)) return TCL_ERROR;
    return StartLabel(w, c, r, flag);
  }
  if (op == "point") {
    if (!edit || !edit->point) {
      Tcl_AppendResult(interp, path, " label point - No current point label", (char *)NULL);
      return TCL_ERROR;
    }
    if (!twoInts(" label point column row", &c, &r)) return TCL_ERROR;
    edit->points.push_back({c, r});
    return TCL_OK;
  }
  if (op == "columnpeaknumber") {
    if (!twoInts(" label columnpeaknumber column row", &c, &r)) return TCL_ERROR;
    const LtwodPeak *pk = Inside(w, c, r) ? w->p->columnPeaks.Find(c, r) : nullptr;
    SetInt(interp, pk ? pk->sequence : 0);
    return TCL_OK;
  }
  if (op == "labelnumber") {
    if (!twoInts(" label labelnumber column row", &c, &r)) return TCL_ERROR;
    SetInt(interp, LabelNumberAt(w, c, r));
    return TCL_OK;
  }
  if (op == "column") {
    if (argc != 4) return Usage(w, path, " label column columnnumber");
    if (!edit || edit->point) {
      Tcl_AppendResult(interp, path, " label column - No current label", (char *)NULL);
      return TCL_ERROR;
    }
    int n;
    if (!GetInt(interp, argv[3], &n)) return TCL_ERROR;
    if (n >= 0 && n < w->p->columns) ExtendToColumn(w, edit, n);
    LabelInfo(w);
    ScheduleRedisplay(w);
    return TCL_OK;
  }
  if (op == "topplus" || op == "topminus" || op == "bottomplus" || op == "bottomminus") {
    int k = edit ? edit->currentColumn - edit->firstColumn : -1;
    if (!edit || edit->point || k < 0 || k >= (int)edit->columnRanges.size()) {
      Tcl_AppendResult(interp, path, " label ", op.c_str(), " - No current label", (char *)NULL);
      return TCL_ERROR;
    }
    PeakRange &pr = edit->columnRanges[k];
    int col = edit->currentColumn;
    if (op == "topplus" && FreeColumnPeak(w, col, pr.last + 1)) pr.last++;
    else if (op == "topminus" && pr.first < pr.last && FreeColumnPeak(w, col, pr.last - 1)) pr.last--;
    else if (op == "bottomplus" && pr.first < pr.last && FreeColumnPeak(w, col, pr.first + 1)) pr.first++;
    else if (op == "bottomminus" && FreeColumnPeak(w, col, pr.first - 1)) pr.first--;
    LabelInfo(w);
    ScheduleRedisplay(w);
    return TCL_OK;
  }
  if (op == "save") {
    if (argc != 5) return Usage(w, path, " label save labelflag classname");
    int flag = atoi(argv[3]);
    std::unique_ptr<Label> l = std::move(w->p->edit);
    if (!l) return TCL_OK;
    ReadClasses(w);
    auto bind = [&]() {
      l->classIndex = ClassByName(w, argv[4]);
      if (l->classIndex < 0) {
        Tcl_AppendResult(interp, argv[4], " - Invalid labelclass name", (char *)NULL);
        return false;
      }
      return true;
    };
    if (flag == 1 && !l->point) {
      if (!bind()) return TCL_ERROR;
      w->p->labels.push_back(std::move(*l));
    } else if (flag == 0 && !l->point) {
      bool replaced = false;
      for (Label &old : w->p->labels)
        if (old.id == l->id) old = std::move(*l), replaced = true;
      // The original went while this copy was edited: the copy takes its place at the end.
      if (!replaced) {
        if (l->classIndex < 0 && !bind()) return TCL_ERROR;
        w->p->labels.push_back(std::move(*l));
      }
    } else if (flag >= 3 && l->point) {
      if (!LabelFromPolygon(w, l.get()) || !bind()) return TCL_ERROR;
      w->p->labels.push_back(std::move(*l));
    }
    ScheduleRedisplay(w);
    return TCL_OK;
  }
  if (op == "delete") {
    w->p->edit.reset();
    ScheduleRedisplay(w);
    return TCL_OK;
  }
  if (op == "read" || op == "write") {
    if (argc != 5)
      return Usage(w, path, op == "read" ? " label read labelfilename wavefilename" : " label write labelfilename wavefilename");
    if (Safe(w, op == "read" ? "label read" : "label write")) return TCL_ERROR;
    int code = op == "read" ? ReadLabelFile(w, argv[3], argv[4]) : WriteLabelFile(w, argv[3], argv[4]);
    if (code == TCL_OK && op == "read") {
      LabelInfo(w);
      ScheduleRedisplay(w);
    }
    return code;
  }
  if (op == "free") {
    FreeLabels(w);
    ScheduleRedisplay(w);
    return TCL_OK;
  }
  if (op == "verify") {
    if (argc != 4) return Usage(w, path, " label verify labelclass");
    ReadClasses(w);
    SetInt(interp, ClassByName(w, argv[3]) >= 0);
    return TCL_OK;
  }
  if (op == "value") {
    int x, y;
    if (!twoInts(" label value <x> <y>", &x, &y)) return TCL_ERROR;
    if (!HasData(w)) return TCL_OK;
    c = ColumnOfPixel(w, x), r = RowOfY(w, y);
    Label *l = LabelAt(w, c, r, true);
    if (l && l->classIndex >= 0) {
      std::string text = "Label " + std::to_string(l->id) + ": " + LtwodDescribeLabel(w->p->classes[l->classIndex].name);
      Tcl_SetResult(interp, (char *)text.c_str(), TCL_VOLATILE);
    }
    return TCL_OK;
  }
  if (op == "activate" || op == "deactivate") {
    bool on = op == "activate";
    if (argc < 4) {
      for (Label &l : w->p->labels) l.active = on;
    } else {
      for (int k = 3; k < argc; k++)
        for (const std::string &word : ListWords(argv[k])) {
          int id = atoi(word.c_str());
          for (Label &l : w->p->labels)
            if (id > 0 && l.id == id) l.active = on;
        }
    }
    ScheduleRedisplay(w);
    return TCL_OK;
  }
  if (op == "activateclass" || op == "deactivateclass") {
    bool on = op == "activateclass";
    for (int k = 3; k < argc; k++)
      for (const std::string &word : ListWords(argv[k]))
        for (Label &l : w->p->labels)
          if (l.classIndex >= 0 && w->p->classes[l.classIndex].name.find(word) != std::string::npos) l.active = on;
    ScheduleRedisplay(w);
    return TCL_OK;
  }
  Tcl_AppendResult(interp, " Invalid label option ", argv[2], (char *)NULL);
  return TCL_ERROR;
}

static int WidgetCmd(ClientData cd, Tcl_Interp *interp, int argc, const char **argv) {
  Ltwod *w = static_cast<Ltwod *>(cd);
  if (argc < 2) {
    Tcl_AppendResult(interp, "wrong # args: should be \"", argv[0], " option ?arg arg ...?\"", "\nCommands are: ",
                     kCommandList, (char *)NULL);
    return TCL_ERROR;
  }
  Tcl_Preserve(w);
  int code = TCL_OK;
  std::string op = argv[1];
  if (op == "center") {
    if (argc == 2 || w->fitToWindow) {
      SetDouble(interp, w->centreShown);
    } else if (HasData(w)) {
      double ms;
      if (Tcl_GetDouble(interp, argv[2], &ms) != TCL_OK) {
        code = TCL_ERROR;
      } else {
        int old = w->firstRequested;
        w->centreRequested = ms;
        w->firstRequested = FloorInt((ms - w->begin) / w->msPerPixel) - WinWidth(w) / 2;
        if (argc == 3) RequestScroll(w, old);
      }
    }
  } else if (op == "cget") {
    if (argc < 3) {
      Lyre_WrongArgs(interp, argv[0], " cget option");
      code = TCL_ERROR;
    } else {
      code = Tk_ConfigureValue(interp, w->tkwin, ltwodSpecs, (char *)w, argv[2], 0);
    }
  } else if (op == "configure") {
    if (argc == 2) code = Tk_ConfigureInfo(interp, w->tkwin, ltwodSpecs, (char *)w, nullptr, 0);
    else if (argc == 3) code = Tk_ConfigureInfo(interp, w->tkwin, ltwodSpecs, (char *)w, argv[2], 0);
    else code = ConfigureLtwod(w, argc - 2, argv + 2, TK_CONFIG_ARGV_ONLY);
  } else if (op == "data") {
    if (argc < 3) {
      code = Usage(w, argv[0], " data <arrayFob> [config options]");
    } else if ((code = SetData(w, argv[2], kData)) == TCL_OK) {
      // A bad option is reported; the widget and the data stay.
      code = ConfigureLtwod(w, argc - 3, argv + 3, TK_CONFIG_ARGV_ONLY);
    }
  } else if (op == "display") {
    w->damageX = -1;
    if (!w->redisplayPending) ScheduleRedisplay(w);
  } else if (op == "height" || op == "width") {
    if (argc != 2) code = Usage(w, argv[0], op == "height" ? " height" : " width", true);
    else SetInt(interp, op == "height" ? WinHeight(w) : WinWidth(w));
  } else if (op == "msectopix") {
    double ms;
    if (argc != 3) code = Usage(w, argv[0], " msectopix <msec value>");
    else if (!HasData(w)) Tcl_SetResult(interp, (char *)"-1", TCL_STATIC);
    else if (Tcl_GetDouble(interp, argv[2], &ms) != TCL_OK) code = TCL_ERROR;
    else SetInt(interp, FloorInt((ms - w->begin) / w->msPerPixel) - w->firstPixel);
  } else if (op == "pixtomsec") {
    double x;
    if (argc != 3) code = Usage(w, argv[0], " pixtomsec <x value>");
    else if (!HasData(w)) Tcl_SetResult(interp, (char *)"-1", TCL_STATIC);
    else if (Tcl_GetDouble(interp, argv[2], &x) != TCL_OK) code = TCL_ERROR;
    else SetDouble(interp, (x + w->firstPixel) * w->msPerPixel + w->begin);
  } else if (op == "value") {
    int x, y;
    if (argc != 4) code = Usage(w, argv[0], " value <x> <y>");
    else if (!GetInt(interp, argv[2], &x) || !GetInt(interp, argv[3], &y)) code = TCL_ERROR;
    else if (HasData(w)) {
      int c = ColumnOfPixel(w, x), r = RowOfY(w, y);
      if (Inside(w, c, r)) {
        char buf[96];
        snprintf(buf, sizeof buf, "%d %d %f", c, r, Cells(w)[c][r]);
        Tcl_SetResult(interp, buf, TCL_VOLATILE);
      }
    }
  } else if (op == "xview") {
    if (argc < 4) {
      code = Usage(w, argv[0], " xview <standard scroll commands>", true);
    } else {
      double f;
      int n, ww = WinWidth(w), old = w->firstRequested;
      int type = Tk_GetScrollInfo(interp, argc, argv, &f, &n);
      if (type == TK_SCROLL_ERROR) {
        code = TCL_ERROR;
      } else {
        int first = w->firstRequested;
        if (type == TK_SCROLL_MOVETO) first = ToInt(w->totalPixels * f);
        else if (type == TK_SCROLL_PAGES) first += (ww / 3) * n;
        else first += (ww / 10) * n;
        w->firstRequested = LyreClampFirst(first, ww, w->totalPixels);
        RequestScroll(w, old);
      }
    }
  } else if (op == "xmark") {
    code = XmarkCmd(w, argc, argv);
  } else if (op == "ymark") {
    code = YmarkCmd(w, argc, argv);
  } else if (op == "xysquare") {
    code = XysquareCmd(w, argc, argv);
  } else if (op == "colormap") {
    code = ColormapCmd(w, argc, argv);
  } else if (op == "planes") {
    code = PlanesCmd(w, argc, argv);
  } else if (op == "label") {
    code = LabelCmd(w, argc, argv);
  } else if (op == "filter") {
    code = FilterCmd(w, argc, argv);
  } else if (op == "edge") {
    code = EdgeCmd(w, argc, argv);
  } else if (op == "histogram") {
    code = HistogramCmd(w, argc, argv);
  } else if (op == "texture") {
    code = TextureCmd(w, argc, argv);
  } else {
    Tcl_AppendResult(interp, "Bad option \"", argv[1], "\": must be ", kCommandList, (char *)NULL);
    code = TCL_ERROR;
  }
  Tcl_Release(w);
  return code;
}

// ------------------------------------------------------ events, lifetime

static void DestroyLtwod(char *mem) {
  Ltwod *w = reinterpret_cast<Ltwod *>(mem);
  if (textureWidget == w) textureWidget = nullptr;
  Tk_FreeOptions(ltwodSpecs, (char *)w, w->display, 0);
  if (w->image) {
    w->image->data = nullptr;
    XDestroyImage(w->image);
  }
  if (w->pixmap) Tk_FreePixmap(w->display, w->pixmap);
  if (w->copyGC) Tk_FreeGC(w->display, w->copyGC);
  if (w->markGC) Tk_FreeGC(w->display, w->markGC);
  FreeColours(w);
  if (w->gl) {
    w->gl->tkwin = nullptr;
    LtwodReleaseGLWindow(w->gl);
    delete w->gl;
  }
  delete w->p;
  ckfree(mem);
}

static void EventProc(ClientData cd, XEvent *ev) {
  Ltwod *w = static_cast<Ltwod *>(cd);
  if (ev->type == Expose) {
    if (w->redisplayPending) {
      int y = w->damageY, hgt = w->damageHeight;
      LyreMergeDamage(&w->damageX, &w->damageWidth, ev->xexpose.x, ev->xexpose.width);
      LyreMergeDamage(&y, &hgt, ev->xexpose.y, ev->xexpose.height);
      w->damageY = y, w->damageHeight = hgt;
    } else {
      w->damageX = ev->xexpose.x, w->damageWidth = ev->xexpose.width;
      w->damageY = ev->xexpose.y, w->damageHeight = ev->xexpose.height;
      Tcl_DoWhenIdle(DisplayLtwod, w);
      w->redisplayPending = 1;
    }
  } else if (ev->type == ConfigureNotify) {
    UpdateGeometry(w);
    // A new width is a new scale when the data fits the window.
    if (w->fitToWindow) ScheduleRedisplay(w), w->damageX = -1;
  } else if (ev->type == DestroyNotify) {
    if (w->tkwin) {
      w->tkwin = nullptr;
      if (w->gl) {
        LtwodGLRelease(w->gl);
        w->gl->tkwin = nullptr;
      }
      Tcl_DeleteCommandFromToken(w->interp, w->widgetCmd);
    }
    if (w->redisplayPending) Tcl_CancelIdleCall(DisplayLtwod, w);
    if (w->scrollPending) Tcl_CancelIdleCall(ScrollProc, w);
    w->redisplayPending = w->scrollPending = 0;
    if (textureWidget == w) textureWidget = nullptr;
    Tcl_EventuallyFree(w, DestroyLtwod);
  }
}

static void CmdDeletedProc(ClientData cd) {
  Ltwod *w = static_cast<Ltwod *>(cd);
  Tk_Window tkwin = w->tkwin;
  if (tkwin) {
    w->tkwin = nullptr;
    Tk_DestroyWindow(tkwin);
  }
}

// ltwod hasOpenGL | ltwod labelclasses text | ltwod pathName arrayFob ?options?
int LtwodCmd(ClientData mainWindow, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc == 2 && strcmp(argv[1], "hasOpenGL") == 0) {
    Tcl_SetResult(interp, (char *)"1", TCL_STATIC);
    return TCL_OK;
  }
  if (argc == 3 && strcmp(argv[1], "labelclasses") == 0) {
    labelClassesText = argv[2];
    return TCL_OK;
  }
  if (argc < 3) {
    Tcl_AppendResult(interp, "wrong # args: should be \"", argv[0], " pathName arrayFob ?options?\"", (char *)NULL);
    return TCL_ERROR;
  }
  Tk_Window tkwin = Tk_CreateWindowFromPath(interp, static_cast<Tk_Window>(mainWindow), argv[1], nullptr);
  if (!tkwin) return TCL_ERROR;
  Tk_SetClass(tkwin, "OGL3DWINDOW");
  Ltwod *w = reinterpret_cast<Ltwod *>(ckalloc(sizeof(Ltwod)));
  memset(w, 0, sizeof(Ltwod));
  w->p = new Priv;
  w->tkwin = tkwin;
  w->display = Tk_Display(tkwin);
  w->interp = interp;
  w->minFraction = 0.0, w->maxFraction = 1.0;
  w->resolution = w->msPerPixel = w->goodResolution = 1.0;
  w->colPerSecond = w->goodColPerSecond = 1000.0;
  w->labelType = 1;
  auto fail = [&]() {
    std::string msg = Tcl_GetStringResult(interp);
    delete w->p;
    ckfree((char *)w);
    Tk_DestroyWindow(tkwin);
    Tcl_SetResult(interp, (char *)msg.c_str(), TCL_VOLATILE);
    return TCL_ERROR;
  };
  if (SetData(w, argv[2], kData) != TCL_OK) return fail();
  w->centreRequested = w->xMarkMs = w->yMarkFraction = -1.0;
  w->geometryDirty = 1;
  w->xMarkPixel = w->yMarkPixel = w->xMarkDrawn = w->yMarkDrawn = -1;
  w->damageX = w->damageY = w->damageWidth = w->damageHeight = -1;
  LtwodRegisterWindowClass(interp);
  w->gl = new LtwodGLWindow{};
  w->gl->tkwin = tkwin;
  w->gl->display = w->display;
  w->gl->interp = interp;
  w->gl->screen = Tk_ScreenNumber(tkwin);
  LtwodPrepareGLWindow(w->gl);
  Tk_CreateEventHandler(tkwin, ExposureMask | StructureNotifyMask | FocusChangeMask, EventProc, w);
  w->widgetCmd = Tcl_CreateCommand(interp, Tk_PathName(tkwin), WidgetCmd, w, CmdDeletedProc);
  if (ConfigureLtwod(w, argc - 3, argv + 3, 0) != TCL_OK) {
    std::string msg = Tcl_GetStringResult(interp);
    Tk_DestroyWindow(w->tkwin);
    Tcl_SetResult(interp, (char *)msg.c_str(), TCL_VOLATILE);
    return TCL_ERROR;
  }
  Tcl_SetResult(interp, (char *)Tk_PathName(tkwin), TCL_VOLATILE);
  return TCL_OK;
}
