// Creating, looking up and destroying N objects should cost the same per
// object whatever N is. For each N (default 10^4, 10^5, 10^6) this prints
// the time per object of each phase, then compares the largest N with the
// smallest.
//
//   objects_bench ?N ...?
#include <tcl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "obj.h"

namespace {

using Clock = std::chrono::steady_clock;

double nsPer(Clock::time_point a, Clock::time_point b, long n) {
    return std::chrono::duration<double, std::nano>(b - a).count() / n;
}

struct Times {
    double create, lookup, destroy;
    double total() const { return create + lookup + destroy; }
};

bool run(long n, Times &t) {
    Tcl_Interp *interp = Tcl_CreateInterp();
    Obj_Init(interp);
    std::vector<std::string> names;
    names.reserve(n);

    auto t0 = Clock::now();
    for (long i = 0; i < n; i++) {
        ArrayRecord *a = Array_New(2, 1, 1);
        if (Obj_Create(interp, "arrayF", a) != TCL_OK) {
            fprintf(stderr, "create failed at %ld: %s\n", i, Tcl_GetStringResult(interp));
            return false;
        }
        names.emplace_back(Tcl_GetStringResult(interp));
    }
    auto t1 = Clock::now();
    for (long i = 0; i < n; i++) {
        ArrayRecord *a = static_cast<ArrayRecord *>(Obj_GetData(interp, "arrayF", names[i].c_str()));
        if (!a) {
            fprintf(stderr, "lookup failed at %ld\n", i);
            return false;
        }
        a->data[0] = float(i);
    }
    auto t2 = Clock::now();
    for (long i = 0; i < n; i++) {
        if (Obj_Destroy(interp, names[i].c_str()) != TCL_OK) {
            fprintf(stderr, "destroy failed at %ld\n", i);
            return false;
        }
    }
    auto t3 = Clock::now();
    bool empty = Obj_Count(interp) == 0;
    Tcl_DeleteInterp(interp);
    t = {nsPer(t0, t1, n), nsPer(t1, t2, n), nsPer(t2, t3, n)};
    return empty;
}

} // namespace

int main(int argc, char **argv) {
    std::vector<long> sizes;
    for (int i = 1; i < argc; i++) sizes.push_back(atol(argv[i]));
    if (sizes.empty()) sizes = {10000, 100000, 1000000};
    Tcl_FindExecutable(argv[0]);

    printf("%10s %12s %12s %12s %12s   (ns per object)\n", "N", "create", "lookup", "destroy", "total");
    std::vector<Times> all;
    for (long n : sizes) {
        if (n <= 0) {
            fprintf(stderr, "N must be positive\n");
            return 2;
        }
        Times t;
        if (!run(n, t)) return 1;
        all.push_back(t);
        printf("%10ld %12.1f %12.1f %12.1f %12.1f\n", n, t.create, t.lookup, t.destroy, t.total());
    }
    if (all.size() > 1) {
        double ratio = all.back().total() / all.front().total();
        printf("time per object at N=%ld is %.2f x that at N=%ld: %s\n", sizes.back(), ratio, sizes.front(),
               ratio < 3.0 ? "linear growth" : "worse than linear");
    }
    return 0;
}
