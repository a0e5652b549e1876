// The overload set idiom for std::visit.
#pragma once

namespace quern {

template <class... F>
struct Overload : F... {
  using F::operator()...;
};

}  // namespace quern
