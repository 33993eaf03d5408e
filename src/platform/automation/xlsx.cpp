#include "xlsx.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <unzip.h>
#include <zip.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>

namespace {

const size_t kMaxMember = 256u << 20;
const char *kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

struct Member {
    std::string name;
    std::string data;
};

bool isElement(xmlNode *n, const char *local) {
    return n && n->type == XML_ELEMENT_NODE && strcmp(reinterpret_cast<const char *>(n->name), local) == 0;
}

xmlNode *child(xmlNode *parent, const char *local) {
    for (xmlNode *c = parent ? parent->children : nullptr; c; c = c->next)
        if (isElement(c, local)) return c;
    return nullptr;
}

std::string attr(xmlNode *n, const char *name, const char *ns = nullptr) {
    xmlChar *v = ns ? xmlGetNsProp(n, BAD_CAST name, BAD_CAST ns) : xmlGetProp(n, BAD_CAST name);
    if (!v) return "";
    std::string s = reinterpret_cast<const char *>(v);
    xmlFree(v);
    return s;
}

std::string text(xmlNode *n) {
    xmlChar *v = xmlNodeGetContent(n);
    if (!v) return "";
    std::string s = reinterpret_cast<const char *>(v);
    xmlFree(v);
    return s;
}

// "B4" or "$B$4" to column and row (both from 1).
bool parseCellRef(const std::string &a, int &col, int &row) {
    size_t i = 0;
    col = row = 0;
    if (i < a.size() && a[i] == '$') i++;
    size_t start = i;
    while (i < a.size() && isalpha(static_cast<unsigned char>(a[i])) && i - start < 3)
        col = col * 26 + (toupper(static_cast<unsigned char>(a[i++])) - 'A' + 1);
    if (i == start) return false;
    if (i < a.size() && a[i] == '$') i++;
    size_t digits = i;
    while (i < a.size() && isdigit(static_cast<unsigned char>(a[i])) && i - digits < 8) row = row * 10 + (a[i++] - '0');
    return i == a.size() && i > digits && row > 0 && col <= 16384 && row <= 1048576;
}

bool endsWith(const std::string &s, const char *tail) {
    size_t n = strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

std::string cellName(int col, int row) {
    std::string c;
    for (int n = col; n > 0; n = (n - 1) / 26) c.insert(c.begin(), static_cast<char>('A' + (n - 1) % 26));
    return c + std::to_string(row);
}

xmlDoc *parseXml(const std::string &data) {
    return xmlReadMemory(data.data(), static_cast<int>(data.size()), nullptr, nullptr,
                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
}

}  // namespace

std::string Xlsx_NumberText(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

struct XlsxBook::Impl {
    std::vector<Member> members;
    xmlDoc *workbook = nullptr;
    std::string workbookPart;
    std::vector<XlsxName> names;
    std::vector<std::pair<std::string, std::string>> sheets;  // name, part
    std::vector<std::string> shared;
    std::map<std::string, xmlDoc *> sheetDocs;  // by part, parsed on demand
    std::map<std::string, bool> dirty;

    ~Impl() {
        if (workbook) xmlFreeDoc(workbook);
        for (auto &s : sheetDocs) xmlFreeDoc(s.second);
    }

    Member *member(const std::string &name) {
        for (Member &m : members)
            if (m.name == name) return &m;
        return nullptr;
    }

    bool readZip(const std::string &path, std::string &err) {
        FILE *f = fopen(path.c_str(), "rb");
        if (!f) {
            err = path + ": " + strerror(errno);
            return false;
        }
        unsigned char magic[4] = {0};
        size_t got = fread(magic, 1, 4, f);
        fclose(f);
        if (got < 4 || magic[0] != 'P' || magic[1] != 'K') {
            err = magic[0] == 0xD0 && magic[1] == 0xCF
                      ? path + " is a binary workbook; only Office Open XML workbooks can be opened"
                      : path + " is not an Office Open XML workbook";
            return false;
        }
        unzFile z = unzOpen64(path.c_str());
        if (!z) {
            err = path + " is not a readable zip package";
            return false;
        }
        bool ok = true;
        for (int r = unzGoToFirstFile(z); ok && r == UNZ_OK; r = unzGoToNextFile(z)) {
            unz_file_info64 info;
            if (unzGetCurrentFileInfo64(z, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
                ok = false;
                break;
            }
            std::string name(info.size_filename + 1, '\0');
            unzGetCurrentFileInfo64(z, &info, &name[0], name.size(), nullptr, 0, nullptr, 0);
            name.resize(info.size_filename);
            if (info.uncompressed_size > kMaxMember || (info.flag & 1)) {
                err = path + ": member " + name + " is too large or encrypted";
                ok = false;
                break;
            }
            std::string data(info.uncompressed_size, '\0');
            if (unzOpenCurrentFile(z) != UNZ_OK) {
                ok = false;
                break;
            }
            int n = data.empty() ? 0 : unzReadCurrentFile(z, &data[0], static_cast<unsigned>(data.size()));
            char extra;
            bool exact = n == static_cast<int>(data.size()) && unzReadCurrentFile(z, &extra, 1) == 0;
            if (unzCloseCurrentFile(z) != UNZ_OK || !exact) {
                err = path + ": member " + name + " is damaged";
                ok = false;
                break;
            }
            members.push_back({name, std::move(data)});
        }
        unzClose(z);
        if (ok && members.empty()) err = path + " holds no members";
        if (!ok && err.empty()) err = path + " is a damaged zip package";
        return ok && !members.empty();
    }

    // Relations of a part: id to the target part's full name.
    std::map<std::string, std::string> relations(const std::string &part) {
        std::map<std::string, std::string> rels;
        size_t slash = part.find_last_of('/');
        std::string dir = slash == std::string::npos ? "" : part.substr(0, slash + 1);
        Member *m = member(dir + "_rels/" + part.substr(dir.size()) + ".rels");
        if (!m) return rels;
        xmlDoc *d = parseXml(m->data);
        if (!d) return rels;
        for (xmlNode *c = xmlDocGetRootElement(d)->children; c; c = c->next) {
            if (!isElement(c, "Relationship")) continue;
            std::string t = attr(c, "Target");
            rels[attr(c, "Id")] = t.empty() ? t : t[0] == '/' ? t.substr(1) : dir + t;
        }
        xmlFreeDoc(d);
        return rels;
    }

    bool parse(const std::string &path, std::string &err) {
        // The workbook part is named by the package relations; the usual
        // name is the fallback.
        workbookPart = "xl/workbook.xml";
        if (Member *root = member("_rels/.rels")) {
            if (xmlDoc *d = parseXml(root->data)) {
                for (xmlNode *c = xmlDocGetRootElement(d)->children; c; c = c->next)
                    if (isElement(c, "Relationship") && endsWith(attr(c, "Type"), "/officeDocument")) {
                        std::string t = attr(c, "Target");
                        workbookPart = !t.empty() && t[0] == '/' ? t.substr(1) : t;
                    }
                xmlFreeDoc(d);
            }
        }
        Member *wb = member(workbookPart);
        if (!wb || !(workbook = parseXml(wb->data)) || !isElement(xmlDocGetRootElement(workbook), "workbook")) {
            err = path + " has no readable workbook part";
            return false;
        }
        auto rels = relations(workbookPart);
        xmlNode *root = xmlDocGetRootElement(workbook);
        for (xmlNode *s = child(child(root, "sheets"), "sheet"); s; s = s->next)
            if (isElement(s, "sheet")) sheets.push_back({attr(s, "name"), rels[attr(s, "id", kRelNs)]});
        for (xmlNode *n = child(child(root, "definedNames"), "definedName"); n; n = n->next)
            if (isElement(n, "definedName")) names.push_back({attr(n, "name"), text(n)});
        for (auto &r : rels) {
            Member *m = member(r.second);
            if (!m || r.second.find("sharedStrings") == std::string::npos) continue;
            if (xmlDoc *d = parseXml(m->data)) {
                for (xmlNode *si = xmlDocGetRootElement(d)->children; si; si = si->next) {
                    if (!isElement(si, "si")) continue;
                    std::string s;
                    collectText(si, s);
                    shared.push_back(s);
                }
                xmlFreeDoc(d);
            }
        }
        return true;
    }

    // The text of a string item: its runs, without phonetic hints.
    static void collectText(xmlNode *n, std::string &out) {
        for (xmlNode *c = n->children; c; c = c->next) {
            if (isElement(c, "rPh")) continue;
            if (isElement(c, "t")) out += text(c);
            else if (c->type == XML_ELEMENT_NODE) collectText(c, out);
        }
    }

    xmlNode *sheetData(const std::string &sheet, std::string &part, std::string &err) {
        for (auto &s : sheets) {
            if (s.first != sheet) continue;
            part = s.second;
            auto it = sheetDocs.find(part);
            if (it == sheetDocs.end()) {
                Member *m = member(part);
                xmlDoc *d = m ? parseXml(m->data) : nullptr;
                if (!d) {
                    err = "the worksheet " + sheet + " cannot be read";
                    return nullptr;
                }
                it = sheetDocs.emplace(part, d).first;
            }
            xmlNode *data = child(xmlDocGetRootElement(it->second), "sheetData");
            if (!data) err = "the worksheet " + sheet + " has no cell data";
            return data;
        }
        err = "there is no sheet named " + sheet;
        return nullptr;
    }

    // The cell data of a sheet and the column and row of a single-cell
    // address in it.
    xmlNode *locate(const std::string &sheet, const std::string &address, int &col, int &row, std::string &part,
                    std::string &err) {
        if (!parseCellRef(address, col, row)) {
            err = "the reference " + address + " is not a single cell";
            return nullptr;
        }
        return sheetData(sheet, part, err);
    }

    std::string serialize(xmlDoc *d) {
        xmlChar *buf = nullptr;
        int size = 0;
        xmlDocDumpMemoryEnc(d, &buf, &size, "UTF-8");
        std::string s(reinterpret_cast<char *>(buf), size);
        xmlFree(buf);
        return s;
    }

    // The workbook part with calcPr fullCalcOnLoad="1", placed where the
    // schema's element order puts it.
    std::string workbookForSave() {
        xmlNode *root = xmlDocGetRootElement(workbook);
        xmlNode *calc = child(root, "calcPr");
        if (!calc) {
            static const char *after[] = {"oleSize", "customWorkbookViews", "pivotCaches", "smartTagPr",
                                          "smartTagTypes", "webPublishing", "fileRecoveryPr", "webPublishObjects",
                                          "extLst"};
            xmlNode *before = nullptr;
            for (xmlNode *c = root->children; c && !before; c = c->next)
                for (const char *a : after)
                    if (isElement(c, a)) {
                        before = c;
                        break;
                    }
            calc = xmlNewDocNode(workbook, root->ns, BAD_CAST "calcPr", nullptr);
            if (before) xmlAddPrevSibling(before, calc);
            else xmlAddChild(root, calc);
        }
        xmlSetProp(calc, BAD_CAST "fullCalcOnLoad", BAD_CAST "1");
        return serialize(workbook);
    }
};

XlsxBook::XlsxBook() : impl(new Impl) {}
XlsxBook::~XlsxBook() = default;

bool XlsxBook::load(const std::string &path, std::string &err) {
    impl.reset(new Impl);
    return impl->readZip(path, err) && impl->parse(path, err);
}

const std::vector<XlsxName> &XlsxBook::names() const { return impl->names; }

std::vector<std::string> XlsxBook::sheetNames() const {
    std::vector<std::string> n;
    for (auto &s : impl->sheets) n.push_back(s.first);
    return n;
}

bool XlsxBook::hasSheet(const std::string &sheet) const {
    for (auto &s : impl->sheets)
        if (s.first == sheet) return true;
    return false;
}

bool XlsxBook::cell(const std::string &sheet, const std::string &address, XlsxCell &out, std::string &err) {
    out = XlsxCell();
    int col, row;
    std::string part;
    xmlNode *data = impl->locate(sheet, address, col, row, part, err);
    if (!data) return false;
    std::string want = cellName(col, row);
    for (xmlNode *r = data->children; r; r = r->next) {
        if (!isElement(r, "row")) continue;
        for (xmlNode *c = r->children; c; c = c->next) {
            if (!isElement(c, "c") || attr(c, "r") != want) continue;
            std::string t = attr(c, "t");
            xmlNode *v = child(c, "v");
            if (t == "inlineStr") {
                out.kind = XlsxCell::Text;
                if (xmlNode *is = child(c, "is")) Impl::collectText(is, out.text);
            } else if (!v) {
                // empty
            } else if (t == "s") {
                long idx = strtol(text(v).c_str(), nullptr, 10);
                if (idx < 0 || idx >= static_cast<long>(impl->shared.size())) {
                    err = "the cell " + want + " names a missing shared string";
                    return false;
                }
                out.kind = XlsxCell::Text;
                out.text = impl->shared[idx];
            } else if (t == "str") {
                out.kind = XlsxCell::Text;
                out.text = text(v);
            } else if (t == "e") {
                out.kind = XlsxCell::Error;
                out.text = text(v);
            } else {
                std::string s = text(v);
                auto res = std::from_chars(s.data(), s.data() + s.size(), out.number);
                out.kind = res.ec == std::errc() ? XlsxCell::Number : XlsxCell::Error;
            }
            return true;
        }
    }
    return true;
}

bool XlsxBook::setNumber(const std::string &sheet, const std::string &address, double value, std::string &err) {
    int col, row;
    std::string part;
    xmlNode *data = impl->locate(sheet, address, col, row, part, err);
    if (!data) return false;
    xmlNs *ns = data->ns;
    xmlNode *rowNode = nullptr, *rowBefore = nullptr;
    for (xmlNode *r = data->children; r && !rowNode && !rowBefore; r = r->next) {
        if (!isElement(r, "row")) continue;
        long n = strtol(attr(r, "r").c_str(), nullptr, 10);
        if (n == row) rowNode = r;
        else if (n > row) rowBefore = r;
    }
    if (!rowNode) {
        rowNode = xmlNewDocNode(data->doc, ns, BAD_CAST "row", nullptr);
        xmlSetProp(rowNode, BAD_CAST "r", BAD_CAST std::to_string(row).c_str());
        if (rowBefore) xmlAddPrevSibling(rowBefore, rowNode);
        else xmlAddChild(data, rowNode);
    }
    std::string want = cellName(col, row);
    xmlNode *cellNode = nullptr, *cellBefore = nullptr;
    for (xmlNode *c = rowNode->children; c && !cellNode && !cellBefore; c = c->next) {
        if (!isElement(c, "c")) continue;
        int cc, cr;
        if (!parseCellRef(attr(c, "r"), cc, cr)) continue;
        if (cc == col) cellNode = c;
        else if (cc > col) cellBefore = c;
    }
    if (!cellNode) {
        cellNode = xmlNewDocNode(data->doc, ns, BAD_CAST "c", nullptr);
        xmlSetProp(cellNode, BAD_CAST "r", BAD_CAST want.c_str());
        if (cellBefore) xmlAddPrevSibling(cellBefore, cellNode);
        else xmlAddChild(rowNode, cellNode);
    }
    xmlUnsetProp(cellNode, BAD_CAST "t");
    for (xmlNode *c = cellNode->children; c;) {
        xmlNode *next = c->next;
        if (isElement(c, "f") || isElement(c, "v") || isElement(c, "is")) {
            xmlUnlinkNode(c);
            xmlFreeNode(c);
        }
        c = next;
    }
    xmlNewTextChild(cellNode, ns, BAD_CAST "v", BAD_CAST Xlsx_NumberText(value).c_str());
    impl->dirty[part] = true;
    return true;
}

bool XlsxBook::save(const std::string &path, std::string &err) {
    zipFile z = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!z) {
        err = path + ": " + strerror(errno);
        return false;
    }
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    zip_fileinfo zi;
    memset(&zi, 0, sizeof zi);
    zi.tmz_date.tm_sec = tm.tm_sec;
    zi.tmz_date.tm_min = tm.tm_min;
    zi.tmz_date.tm_hour = tm.tm_hour;
    zi.tmz_date.tm_mday = tm.tm_mday;
    zi.tmz_date.tm_mon = tm.tm_mon;
    zi.tmz_date.tm_year = tm.tm_year + 1900;
    bool ok = true;
    for (Member &m : impl->members) {
        std::string fresh;
        const std::string *data = &m.data;
        if (m.name == impl->workbookPart) {
            fresh = impl->workbookForSave();
            data = &fresh;
        } else if (impl->dirty.count(m.name)) {
            fresh = impl->serialize(impl->sheetDocs[m.name]);
            data = &fresh;
        }
        ok = zipOpenNewFileInZip64(z, m.name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                   Z_DEFAULT_COMPRESSION, data->size() >= 0xffffffffu) == ZIP_OK &&
             zipWriteInFileInZip(z, data->data(), static_cast<unsigned>(data->size())) == ZIP_OK &&
             zipCloseFileInZip(z) == ZIP_OK;
        if (!ok) break;
    }
    if (zipClose(z, nullptr) != ZIP_OK) ok = false;
    if (!ok) {
        err = "cannot write " + path;
        remove(path.c_str());
    }
    return ok;
}
