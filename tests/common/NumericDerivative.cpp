#include "NumericDerivative.h"

namespace kestrelon::test {

std::vector<std::vector<double>> CentralJacobian(const VectorFunction& f, const std::vector<double>& x,
                                                 double h)
{
    std::vector<std::vector<double>> J;
    for (size_t k = 0; k < x.size(); ++k) {
        std::vector<double> up = x, down = x;
        up[k] += h;
        down[k] -= h;
        const std::vector<double> fUp = f(up), fDown = f(down);
        if (J.empty()) J.assign(fUp.size(), std::vector<double>(x.size(), 0.0));
        for (size_t i = 0; i < fUp.size() && i < fDown.size(); ++i) J[i][k] = (fUp[i] - fDown[i]) / (2 * h);
    }
    return J;
}

double CentralDerivative(const std::function<double(double)>& f, double x, double h)
{
    return (f(x + h) - f(x - h)) / (2 * h);
}

} // namespace kestrelon::test
