// Points that share a value summed into one: an ion-mobility scan's spectrum over
// all its drift times, where each m/z recurs once per drift bin it was seen in.
#pragma once

#include <span>
#include <vector>

namespace tarnvale::columns {

struct ValueSums {
    std::vector<double> values; // distinct, ascending
    std::vector<double> sums;   // per value, the weights of its points summed in float64
};

// The distinct values of `keys` with the summed weights of their points, each sum
// taken in point order. Points whose key is NaN belong to no value and are left out.
// keys.size() == weights.size().
ValueSums sum_by_value(std::span<const double> keys, std::span<const float> weights);

} // namespace tarnvale::columns
