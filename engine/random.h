// The random source of the random windows: a reseedable generator of uniform integers.
#pragma once

#include <cstdint>

namespace tavoxa {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void Reseed(uint32_t seed) = 0;
    // Uniform integer in 0 .. n-1; 0 when n is 0 or less.
    virtual int32_t Next(int32_t n) = 0;
};

// Linear congruential generator, 32-bit state; the top bits of the state scale to 0..n-1.
class LcgRandom : public RandomSource {
public:
    void Reseed(uint32_t seed) override { state_ = seed; }
    int32_t Next(int32_t n) override;

private:
    uint32_t state_ = 0;
};

}  // namespace tavoxa
