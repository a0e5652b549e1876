// The overload set idiom for std::visit.
#pragma once

namespace quern {

template <class... F>
struct Overload : F... {
  using F::operator()...;
};
template <class... F>
Overload(F...) -> Overload<F...>;

}  // namespace quern
