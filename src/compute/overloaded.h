#pragma once
// Overloaded: builds one std::visit visitor from several lambdas, so a visit
// over the kernel-call records fails to compile when a record is not handled.

namespace tessary {

template <class... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

}  // namespace tessary
