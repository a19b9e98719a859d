#pragma once

#include <QByteArray>
#include <QtGlobal>

// A tiny pseudo-random generator whose output is fixed by its seed on every
// platform and compiler, unlike the std:: distributions.
class SplitMix64
{
public:
    explicit SplitMix64(quint64 seed) : m_state(seed) {}

    quint64 next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    // A value in [low, high]; the slight modulo bias does not matter here.
    qint64 between(qint64 low, qint64 high)
    {
        if (high <= low)
            return low;
        return low + qint64(next() % quint64(high - low + 1));
    }

    void fill(char *data, qint64 size)
    {
        qint64 i = 0;
        for (; i + 8 <= size; i += 8) {
            const quint64 v = next();
            for (int b = 0; b < 8; ++b)
                data[i + b] = char((v >> (8 * b)) & 0xFF);
        }
        if (i < size) {
            const quint64 v = next();
            for (int b = 0; i < size; ++i, ++b)
                data[i] = char((v >> (8 * b)) & 0xFF);
        }
    }

    // FNV-1a: a stable hash for deriving per-file streams (qHash is seeded
    // per process).
    static quint64 hash(const QByteArray &bytes)
    {
        quint64 h = 0xCBF29CE484222325ULL;
        for (char c : bytes) {
            h ^= quint8(c);
            h *= 0x100000001B3ULL;
        }
        return h;
    }

private:
    quint64 m_state;
};
