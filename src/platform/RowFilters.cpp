#include "platform/RowFilters.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace RowFilters {

namespace {

#ifdef __SSE2__
// One pixel of up to four bytes, widened to 16 bits a byte. A three-byte pixel reads the
// next pixel's first byte too; the caller keeps its last pixel for the byte-wise loop.
__m128i pixelAt(const uchar* at) {
    int bytes = 0;
    std::memcpy(&bytes, at, 4);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), _mm_setzero_si128());
}

void storePixel(uchar* at, __m128i pixel, int step) {
    const int bytes = _mm_cvtsi128_si32(_mm_packus_epi16(pixel, pixel));
    std::memcpy(at, &bytes, size_t(step));
}

__m128i absolute(__m128i value) {
    return _mm_max_epi16(value, _mm_sub_epi16(_mm_setzero_si128(), value));
}

// `whenSet` where `mask` is set, else `otherwise`.
__m128i select(__m128i mask, __m128i whenSet, __m128i otherwise) {
    return _mm_or_si128(_mm_and_si128(mask, whenSet), _mm_andnot_si128(mask, otherwise));
}

bool vectorStep(int step) {
    return step == 3 || step == 4;
}
#endif

uchar paethPredictor(int left, int above, int aboveLeft) {
    const int toLeft = std::abs(above - aboveLeft);
    const int toAbove = std::abs(left - aboveLeft);
    const int toAboveLeft = std::abs(left + above - 2 * aboveLeft);
    if (toLeft <= toAbove && toLeft <= toAboveLeft)
        return uchar(left);
    return uchar(toAbove <= toAboveLeft ? above : aboveLeft);
}

} // namespace

void undoSub(uchar* row, qsizetype length, int step) {
    qsizetype x = step;
#ifdef __SSE2__
    if (step == 4) {
        // Four pixels at a time: a running sum within the block in two shifted adds, plus the
        // last restored pixel of the block before. A byte-by-byte loop waits on each store.
        __m128i carry = _mm_setzero_si128();
        for (x = 0; x + 16 <= length; x += 16) {
            auto* at = reinterpret_cast<__m128i*>(row + x);
            __m128i pixels = _mm_loadu_si128(at);
            pixels = _mm_add_epi8(pixels, _mm_slli_si128(pixels, 4));
            pixels = _mm_add_epi8(pixels, _mm_slli_si128(pixels, 8));
            pixels = _mm_add_epi8(pixels, carry);
            _mm_storeu_si128(at, pixels);
            carry = _mm_shuffle_epi32(pixels, _MM_SHUFFLE(3, 3, 3, 3));
        }
        x = std::max<qsizetype>(x, step);
    }
#endif
    for (; x < length; ++x)
        row[x] = uchar(row[x] + row[x - step]);
}

void undoUp(uchar* row, const uchar* above, qsizetype length) {
    qsizetype x = 0;
#ifdef __SSE2__
    for (; x + 16 <= length; x += 16) {
        auto* at = reinterpret_cast<__m128i*>(row + x);
        const __m128i sum = _mm_add_epi8(
            _mm_loadu_si128(at), _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + x)));
        _mm_storeu_si128(at, sum);
    }
#endif
    for (; x < length; ++x)
        row[x] = uchar(row[x] + above[x]);
}

void undoAverage(uchar* row, const uchar* above, qsizetype length, int step) {
    qsizetype x = 0;
    for (; x < std::min<qsizetype>(step, length); ++x)
        row[x] = uchar(row[x] + (above[x] >> 1));
#ifdef __SSE2__
    if (vectorStep(step) && length >= x + 4) {
        const __m128i lowByte = _mm_set1_epi16(0xff);
        __m128i left = pixelAt(row);
        for (; x + 4 <= length; x += step) {
            const __m128i average = _mm_srli_epi16(_mm_add_epi16(left, pixelAt(above + x)), 1);
            left = _mm_and_si128(_mm_add_epi16(pixelAt(row + x), average), lowByte);
            storePixel(row + x, left, step);
        }
    }
#endif
    for (; x < length; ++x)
        row[x] = uchar(row[x] + ((int(row[x - step]) + int(above[x])) >> 1));
}

void undoPaeth(uchar* row, const uchar* above, qsizetype length, int step) {
    qsizetype x = 0;
    // The first pixel has neither left nor above-left: its predictor is the byte above.
    for (; x < std::min<qsizetype>(step, length); ++x)
        row[x] = uchar(row[x] + above[x]);
#ifdef __SSE2__
    if (vectorStep(step) && length >= x + 4) {
        const __m128i lowByte = _mm_set1_epi16(0xff);
        __m128i left = pixelAt(row), aboveLeft = pixelAt(above);
        for (; x + 4 <= length; x += step) {
            const __m128i up = pixelAt(above + x);
            // With p = left + up - aboveLeft: |p - left|, |p - up|, |p - aboveLeft|.
            const __m128i fromLeft = _mm_sub_epi16(up, aboveLeft);
            const __m128i fromUp = _mm_sub_epi16(left, aboveLeft);
            const __m128i toLeft = absolute(fromLeft), toUp = absolute(fromUp);
            const __m128i toAboveLeft = absolute(_mm_add_epi16(fromLeft, fromUp));
            const __m128i notLeft =
                _mm_or_si128(_mm_cmpgt_epi16(toLeft, toUp), _mm_cmpgt_epi16(toLeft, toAboveLeft));
            const __m128i upOrCorner = select(_mm_cmpgt_epi16(toUp, toAboveLeft), aboveLeft, up);
            const __m128i predictor = select(notLeft, upOrCorner, left);
            left = _mm_and_si128(_mm_add_epi16(pixelAt(row + x), predictor), lowByte);
            aboveLeft = up;
            storePixel(row + x, left, step);
        }
    }
#endif
    for (; x < length; ++x)
        row[x] = uchar(row[x] + paethPredictor(row[x - step], above[x], above[x - step]));
}

} // namespace RowFilters
