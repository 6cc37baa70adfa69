// gemmi's own structure factors of a CIF, for the CIF tests: its reading of the sites,
// its symmetry from the space-group name, its special-position rule and its anisotropic
// Debye-Waller factor. Kept apart (gemmi_cif_reference.cpp is compiled as C++17, as
// gemmi's CIF document types need with clang; see src/cif/cif_block.hpp).
#pragma once
#include <complex>
#include <memory>
#include <string>

namespace kaven_test {

class GemmiCifReference {
 public:
  // The first block of the CIF text, occupancies made crystallographic.
  explicit GemmiCifReference(const std::string& cif_text);
  ~GemmiCifReference();
  GemmiCifReference(const GemmiCifReference&) = delete;
  GemmiCifReference& operator=(const GemmiCifReference&) = delete;

  bool has_space_group() const;
  // sin(theta)/lambda of h k l (Å^-1).
  double stol(int h, int k, int l) const;
  // The geometric sum of one element (by its symbol, "Zr", "O"):
  // sum occ exp(-2 pi^2 h'U h') exp(2 pi i h.x) over every image gemmi makes.
  std::complex<double> geometric_sum(const std::string& element, int h, int k, int l) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kaven_test
