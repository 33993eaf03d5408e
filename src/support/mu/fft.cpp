// Row-wise discrete Fourier transform, zero-padded, through FFTW (double
// precision, so that float results are correctly rounded to a few ulps).
#include <fftw3.h>

#include <cstring>

#include "mu.h"

extern "C" {

int mu_fft(MxMatrix *in, MxMatrix *out, int inverse) {
    int rows = out->rows, n = out->cols;
    int cols = in->cols < n ? in->cols : n;
    fftw_complex *buf = static_cast<fftw_complex *>(fftw_malloc(sizeof(fftw_complex) * (size_t)rows * n));
    if (!buf) return -1;
    memset(buf, 0, sizeof(fftw_complex) * (size_t)rows * n);
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            buf[(size_t)i * n + j][0] = in->real[i][j];
            buf[(size_t)i * n + j][1] = in->imag ? in->imag[i][j] : 0.0;
        }
    // Planning with FFTW_ESTIMATE leaves the buffer alone.
    fftw_plan plan = fftw_plan_many_dft(1, &n, rows, buf, nullptr, 1, n, buf, nullptr, 1, n,
                                        inverse ? FFTW_BACKWARD : FFTW_FORWARD, FFTW_ESTIMATE);
    if (!plan) {
        fftw_free(buf);
        return -1;
    }
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    double scale = inverse ? 1.0 / n : 1.0;
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < n; j++) {
            out->real[i][j] = (float)(buf[(size_t)i * n + j][0] * scale);
            out->imag[i][j] = (float)(buf[(size_t)i * n + j][1] * scale);
        }
    fftw_free(buf);
    return 0;
}

} // extern "C"
