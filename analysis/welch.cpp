#include "welch.h"

#include <fftw3.h>

#include <cmath>
#include <map>
#include <memory>
#include <mutex>

namespace
{

// FFTW's planner is not reentrant; executing a plan is.
std::mutex planning;

// The plans made, given back to FFTW when the program ends.
struct Plans : std::map<int, fftw_plan> {
    ~Plans()
    {
        for (auto &[n, plan] : *this)
            fftw_destroy_plan(plan);
        fftw_cleanup();
    }
};

// Measuring plans would cost seconds at the longest length: the estimate's
// plans are within a few per cent of measured ones for powers of two.
fftw_plan planFor(int n)
{
    static Plans plans;
    const std::lock_guard<std::mutex> lock(planning);
    fftw_plan &plan = plans[n];
    if (!plan) {
        double *in = fftw_alloc_real(std::size_t(n));
        fftw_complex *out = fftw_alloc_complex(std::size_t(n / 2 + 1));
        plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
        fftw_free(in);
        fftw_free(out);
    }
    return plan;
}

struct FftwFree {
    void operator()(void *p) const { fftw_free(p); }
};

} // namespace

std::int64_t Welch::segmentsIn(const std::vector<Stretch> &stretches, int length)
{
    std::int64_t segments = 0;
    for (const Stretch &s : stretches)
        if (s.rows() >= length)
            segments += (s.rows() - length) / (length / 2) + 1;
    return segments;
}

int Welch::defaultLength(const std::vector<Stretch> &stretches)
{
    int length = longest;
    while (length > shortest && segmentsIn(stretches, length) < fewestSegments)
        length /= 2;
    return length;
}

Welch::Welch(int length) : n(length), window(std::size_t(length)), windowPower(0)
{
    // Periodic: the symmetric window one longer, without its last value.
    for (int i = 0; i < n; ++i) {
        window[std::size_t(i)] = 0.5 - 0.5 * std::cos(2 * M_PI * i / n);
        windowPower += window[std::size_t(i)] * window[std::size_t(i)];
    }
    plan = planFor(n);
}

std::vector<double> Welch::density(const std::int16_t *values,
                                   const std::vector<Stretch> &stretches, double rate) const
{
    const std::int64_t segments = segmentsIn(stretches, n);
    if (segments == 0)
        return {};
    const std::unique_ptr<double, FftwFree> in(fftw_alloc_real(std::size_t(n)));
    const std::unique_ptr<fftw_complex, FftwFree> out(fftw_alloc_complex(std::size_t(bins())));
    std::vector<double> power(std::size_t(bins()), 0.0);
    const double *w = window.data();
    for (const Stretch &s : stretches)
        for (std::int64_t a = s.first; a + n <= s.end; a += n / 2) {
            const std::int16_t *x = values + a;
            std::int64_t sum = 0;
            for (int i = 0; i < n; ++i)
                sum += x[i];
            const double mean = double(sum) / n;
            double *y = in.get();
            for (int i = 0; i < n; ++i)
                y[i] = (x[i] - mean) * w[i];
            fftw_execute_dft_r2c(plan, y, out.get());
            const fftw_complex *f = out.get();
            for (int k = 0; k < bins(); ++k)
                power[std::size_t(k)] += f[k][0] * f[k][0] + f[k][1] * f[k][1];
        }
    // One-sided: the negative frequencies' power folded onto the positive
    // ones, all but 0 and the Nyquist frequency.
    const double scale = 1 / (rate * windowPower * double(segments));
    for (int k = 0; k < bins(); ++k)
        power[std::size_t(k)] *= (k == 0 || k == n / 2 ? 1 : 2) * scale;
    return power;
}
