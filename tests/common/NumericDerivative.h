// Central-difference derivatives, the independent truth for analytic partials.
#pragma once

#include <functional>
#include <vector>

namespace kestrelon::test {

using VectorFunction = std::function<std::vector<double>(const std::vector<double>&)>;

// J[i][k] = (f(x + h e_k)[i] - f(x - h e_k)[i]) / 2h.
std::vector<std::vector<double>> CentralJacobian(const VectorFunction& f, const std::vector<double>& x,
                                                 double h);

// d f / d x of a scalar function of one variable.
double CentralDerivative(const std::function<double(double)>& f, double x, double h);

} // namespace kestrelon::test
