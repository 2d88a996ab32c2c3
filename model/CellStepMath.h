#pragma once

// The exponential and hyperbolic tangent of the vectorised cell steps, written once over
// the vector operations of an instruction set. Only the files compiled for a particular
// instruction set include this, each with an operations type of its own inside an
// unnamed namespace, so every instantiation stays within its file and none compiled for
// one instruction set can stand in for another's.
//
// Same range reduction, polynomials, coefficients and clamps as the vectorised float
// functions of the linear-algebra library the portable code uses, so all give the same
// values to within the rounding of fused multiply-adds.
//
// Each function works in place on N independent vectors, one operation at a time across
// all of them: the compiler keeps that order, so the processor sees N chains side by side
// instead of one long chain after another.

#define TESSALINE_EACH(n, count) _Pragma ("GCC unroll 16") for (int n = 0; n < (count); ++n)

namespace Morvel
{
namespace CellStepMath
{
// min and max return their second operand when either is NaN, so a NaN passes through
// the clamp as it does in the portable code.
template <typename Ops>
inline typename Ops::Vector clamp (typename Ops::Vector v, float low, float high)
{
    return Ops::max (Ops::broadcast (low), Ops::min (Ops::broadcast (high), v));
}

// exp(v): v = m ln 2 + r with |r| <= ln 2 / 2, exp(r) by a polynomial, times 2^m.
// 2^m is formed directly from m limited to the normal exponents: it differs from the
// exact scaling only where exp(v) is above 1e38 or below 1e-38, which the logistic
// function turns into 0 or 1 either way.
template <typename Ops, int N>
inline void exponential (typename Ops::Vector (&v)[N])
{
    using V = typename Ops::Vector;
    auto c = [] (float value) { return Ops::broadcast (value); };
    V m[N], r[N], r2[N], y[N], y1[N];
    TESSALINE_EACH (n, N) v[n] = clamp<Ops> (v[n], -88.723f, 88.723f);
    TESSALINE_EACH (n, N) m[n] = Ops::fmadd (v[n], c (1.44269504088896341f), c (0.5f));
    TESSALINE_EACH (n, N) m[n] = Ops::floor (m[n]);
    TESSALINE_EACH (n, N) r[n] = Ops::fmadd (m[n], c (-0.693359375f), v[n]);
    TESSALINE_EACH (n, N) r[n] = Ops::fmadd (m[n], c (2.12194440e-4f), r[n]);

    TESSALINE_EACH (n, N) r2[n] = Ops::mul (r[n], r[n]);
    TESSALINE_EACH (n, N) y[n] = Ops::fmadd (c (1.9875691500E-4f), r[n], c (1.3981999507E-3f));
    TESSALINE_EACH (n, N) y1[n] = Ops::fmadd (c (4.1665795894E-2f), r[n], c (1.6666665459E-1f));
    TESSALINE_EACH (n, N) y[n] = Ops::fmadd (y[n], r[n], c (8.3334519073E-3f));
    TESSALINE_EACH (n, N) y1[n] = Ops::fmadd (y1[n], r[n], c (5.0000001201E-1f));
    TESSALINE_EACH (n, N) y[n] = Ops::fmadd (y[n], Ops::mul (r2[n], r[n]), y1[n]);
    TESSALINE_EACH (n, N) y[n] = Ops::fmadd (y[n], r2[n], Ops::add (r[n], c (1.0f)));

    TESSALINE_EACH (n, N) v[n] = Ops::mul (y[n], Ops::powerOfTwo (m[n]));
}

// 1 / (1 + exp(v)) in place: the logistic function of the negated values.
template <typename Ops, int N>
inline void logisticOfNegated (typename Ops::Vector (&v)[N])
{
    const auto one = Ops::broadcast (1.0f);
    exponential<Ops> (v);
    TESSALINE_EACH (n, N) v[n] = Ops::div (one, Ops::add (one, v[n]));
}

// tanh by a 13/6-degree rational function on the clamped argument; near zero the
// argument itself. The clamp is the one for fused multiply-adds (where the rational
// function reaches exactly 1).
template <typename Ops, int N>
inline void hyperbolicTangent (typename Ops::Vector (&v)[N])
{
    using V = typename Ops::Vector;
    auto c = [] (float value) { return Ops::broadcast (value); };
    typename Ops::Mask tiny[N];
    V x2[N], p[N], q[N];
    TESSALINE_EACH (n, N) tiny[n] = Ops::magnitudeBelow (v[n], 0.0004f);
    TESSALINE_EACH (n, N) v[n] = clamp<Ops> (v[n], -7.99881172180175781f, 7.99881172180175781f);
    TESSALINE_EACH (n, N) x2[n] = Ops::mul (v[n], v[n]);

    TESSALINE_EACH (n, N) p[n] = Ops::fmadd (x2[n], c (-2.76076847742355e-16f), c (2.00018790482477e-13f));
    TESSALINE_EACH (n, N) q[n] = Ops::fmadd (x2[n], c (1.19825839466702e-06f), c (1.18534705686654e-04f));
    TESSALINE_EACH (n, N) p[n] = Ops::fmadd (x2[n], p[n], c (-8.60467152213735e-11f));
    TESSALINE_EACH (n, N) q[n] = Ops::fmadd (x2[n], q[n], c (2.26843463243900e-03f));
    TESSALINE_EACH (n, N) p[n] = Ops::fmadd (x2[n], p[n], c (5.12229709037114e-08f));
    TESSALINE_EACH (n, N) q[n] = Ops::fmadd (x2[n], q[n], c (4.89352518554385e-03f));
    TESSALINE_EACH (n, N) p[n] = Ops::fmadd (x2[n], p[n], c (1.48572235717979e-05f));
    TESSALINE_EACH (n, N) p[n] = Ops::fmadd (x2[n], p[n], c (6.37261928875436e-04f));
    TESSALINE_EACH (n, N) p[n] = Ops::fmadd (x2[n], p[n], c (4.89352455891786e-03f));
    TESSALINE_EACH (n, N) p[n] = Ops::mul (v[n], p[n]);

    TESSALINE_EACH (n, N) v[n] = Ops::select (tiny[n], v[n], Ops::div (p[n], q[n]));
}
} // namespace CellStepMath
} // namespace Morvel
