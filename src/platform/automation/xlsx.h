/* Office Open XML workbooks (.xlsx) as the workbook server keeps them.
 *
 * Contract:
 *  - Xlsx_Load reads every member of the package into memory and parses the
 *    workbook part, its relations, the shared strings and the worksheets it
 *    needs. Members over 256 MiB, members failing their CRC, a file that is
 *    not a zip package (a binary workbook among them) and a package without
 *    a workbook part are refused with a reason.
 *  - Defined names keep their reference text as the file holds it
 *    ("Sheet1!$B$4", "'My Sheet'!$A$1").
 *  - Cell values: numbers, strings (shared, inline or a formula's string
 *    result), booleans (as 1 and 0) and the cached result of a formula;
 *    an error value or an empty cell has no value.
 *  - SetNumber replaces a cell's content by a number (a formula there is
 *    dropped); Save writes a new package to a path: every member not
 *    changed is copied as it was read, changed worksheets are written anew
 *    and the workbook part asks for a full calculation on load. Save writes
 *    nothing on failure (a partly written file is removed).
 */
#ifndef TOVIK_XLSX_H
#define TOVIK_XLSX_H

#include <memory>
#include <string>
#include <vector>

struct XlsxCell {
    enum Kind { Empty, Number, Text, Error } kind = Empty;
    double number = 0;
    std::string text;
};

struct XlsxName {
    std::string name;
    std::string refersTo;
};

class XlsxBook {
public:
    XlsxBook();
    ~XlsxBook();
    bool load(const std::string &path, std::string &err);
    bool save(const std::string &path, std::string &err);
    const std::vector<XlsxName> &names() const;
    std::vector<std::string> sheetNames() const;
    bool hasSheet(const std::string &sheet) const;
    /* address: "$B$4" or "B4"; a range of several cells is refused. */
    bool cell(const std::string &sheet, const std::string &address, XlsxCell &out, std::string &err);
    bool setNumber(const std::string &sheet, const std::string &address, double value, std::string &err);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

/* The shortest text that reads back as the same double, in the C locale. */
std::string Xlsx_NumberText(double v);

#endif
