#include "simulation/reflection_cache.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <new>
#include <numbers>

#include "scattering/element_table.hpp"
#include "scattering/structure_factor_rows.hpp"

namespace kaven {
namespace {

constexpr int kBlock = 32;  // reflections of a row per storage block
static_assert(kBlock == StructureFactorRows::kRun);

// Screening values are kept below this s (the model of f0 ends at 6).
constexpr float kModelEdge = 5.99f;

// Not-yet-formed marker: a NaN pattern no |F| can have.
constexpr std::uint64_t kEmpty = ~std::uint64_t{0};

std::uint64_t pack(float fmod, float phase) {
  return (std::uint64_t(std::bit_cast<std::uint32_t>(fmod)) << 32) | std::bit_cast<std::uint32_t>(phase);
}

ReflectionCache::Entry unpack(std::uint64_t v) {
  return {std::bit_cast<float>(static_cast<std::uint32_t>(v >> 32)),
          std::bit_cast<float>(static_cast<std::uint32_t>(v))};
}

int floor_div(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// F(g) = exp(2 pi i turns) F: the same modulus, the phase turned (not reduced to the
// range of the phase rule: the search screens on the modulus alone).
ReflectionCache::Entry turned(const StructureFactor& f, double turns) {
  return {f.fmod, static_cast<float>(double(f.phase) + 2 * std::numbers::pi * turns)};
}

}  // namespace

float reflection_s(const RunParameters& par, int h, int k, int l) {
  return static_cast<float>(std::sqrt(std::max(0.0, par.gstar.length_sq(h, k, l))) / 2);
}

// Values of the reflections of the index box |h| <= hb, |k| <= kb, |l| <= lb, stored
// by rows of l made when first touched, each in blocks of kBlock made alike.
// Everything is held within `budget` bytes (shared by the stores of a cache): beyond it
// no row or block is made, and the values of its reflections are formed each time they
// are asked for. A row table that alone would take a quarter of it is not made at all.
class ReflectionCache::Store {
 public:
  Store(int hb, int kb, int lb, std::atomic<std::size_t>& used, std::size_t budget)
      : hb_(hb), kb_(kb), lb_(lb), blocks_per_row_((2 * lb + 1 + kBlock - 1) / kBlock),
        n_rows_(std::size_t(2 * hb + 1) * std::size_t(2 * kb + 1)), used_(used), budget_(budget) {
    if (n_rows_ > budget / 4 / sizeof(std::atomic<Row*>)) {
      n_rows_ = 0;
      return;
    }
    rows_.reset(new (std::nothrow) std::atomic<Row*>[n_rows_]);
    if (!rows_) {
      n_rows_ = 0;
      return;
    }
    for (std::size_t i = 0; i < n_rows_; ++i) rows_[i].store(nullptr, std::memory_order_relaxed);
    bytes_ = n_rows_ * sizeof(std::atomic<Row*>);
    used_ += bytes_;
  }
  ~Store() {
    for (std::size_t i = 0; i < n_rows_; ++i) delete rows_[i].load(std::memory_order_relaxed);
  }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // The slot of (h, k, l), made when `make`; nullptr outside the box or not yet made.
  std::atomic<std::uint64_t>* slot(int h, int k, int l, bool make) {
    if (n_rows_ == 0 || std::abs(h) > hb_ || std::abs(k) > kb_ || std::abs(l) > lb_) return nullptr;
    std::atomic<Row*>& row_ptr = rows_[std::size_t(h + hb_) * std::size_t(2 * kb_ + 1) + std::size_t(k + kb_)];
    Row* row = row_ptr.load(std::memory_order_acquire);
    if (!row) {
      const std::size_t size = sizeof(Row) + std::size_t(blocks_per_row_) * sizeof(std::atomic<Block*>);
      if (!make || !take(size)) return nullptr;
      std::unique_ptr<Row> fresh(new (std::nothrow) Row(blocks_per_row_));
      if (!fresh || !fresh->blocks) {
        used_ -= size;
        return nullptr;
      }
      if (row_ptr.compare_exchange_strong(row, fresh.get(), std::memory_order_acq_rel)) {
        row = fresh.release();
        bytes_ += size;
      } else {
        used_ -= size;  // another thread was first: `row` holds its row
      }
    }
    const int li = l + lb_;
    std::atomic<Block*>& block_ptr = row->blocks[std::size_t(li / kBlock)];
    Block* block = block_ptr.load(std::memory_order_acquire);
    if (!block) {
      if (!make || !take(sizeof(Block))) return nullptr;
      std::unique_ptr<Block> fresh(new (std::nothrow) Block);
      if (!fresh) {
        used_ -= sizeof(Block);
        return nullptr;
      }
      if (block_ptr.compare_exchange_strong(block, fresh.get(), std::memory_order_acq_rel)) {
        block = fresh.release();
        bytes_ += sizeof(Block);
      } else {
        used_ -= sizeof(Block);
      }
    }
    return &block->slot[li % kBlock];
  }

  std::size_t bytes() const { return bytes_.load(); }

 private:
  // Reserves `size` bytes of the budget; false when they are not left.
  bool take(std::size_t size) {
    if (used_.fetch_add(size, std::memory_order_relaxed) + size <= budget_) return true;
    used_.fetch_sub(size, std::memory_order_relaxed);
    return false;
  }

 private:
  struct Block {
    std::atomic<std::uint64_t> slot[kBlock];
    Block() {
      for (auto& s : slot) s.store(kEmpty, std::memory_order_relaxed);
    }
  };
  struct Row {
    std::unique_ptr<std::atomic<Block*>[]> blocks;
    int n;
    explicit Row(int n_blocks)
        : blocks(new (std::nothrow) std::atomic<Block*>[static_cast<std::size_t>(n_blocks)]),
          n(blocks ? n_blocks : 0) {
      for (int i = 0; i < n; ++i) blocks[static_cast<std::size_t>(i)].store(nullptr, std::memory_order_relaxed);
    }
    ~Row() {
      for (int i = 0; i < n; ++i) delete blocks[static_cast<std::size_t>(i)].load(std::memory_order_relaxed);
    }
  };

  int hb_, kb_, lb_;
  int blocks_per_row_;
  std::size_t n_rows_;
  std::unique_ptr<std::atomic<Row*>[]> rows_;
  std::atomic<std::size_t> bytes_{0};
  std::atomic<std::size_t>& used_;
  std::size_t budget_;
};

// The bound of |F_screening - F_exact| (see screening_margin). Each term of the direct
// sum is (f0 + f') T exp(i arg) with arg rounded to single precision (an error of up
// to |arg| 2^-24 radians), T and the per-atom sums over the operators rounded likewise
// (a relative 2^-24 per operation); the screening values are formed in double or from
// such a sum by an exact relation, off by as much again at most.
double screening_margin(const RunParameters& par, int hb, int kb, int lb) {
  const std::size_t n_ops = std::min<std::size_t>(static_cast<std::size_t>(std::max(par.ns, 0)), par.ops.size());
  double xmax[3] = {0, 0, 0};
  for (const Atom& a : par.atoms) {
    xmax[0] = std::max(xmax[0], std::fabs(double(a.x)));
    xmax[1] = std::max(xmax[1], std::fabs(double(a.y)));
    xmax[2] = std::max(xmax[2], std::fabs(double(a.z)));
  }
  const double index = std::max({hb, kb, lb, 1});
  double turns = 0;  // the largest |h R . x + h . t| of any term
  for (std::size_t n = 0; n < n_ops; ++n) {
    const SymmetryOperator& op = par.ops[n];
    double v = 0;
    for (int j = 0; j < 3; ++j) {
      const double column = std::fabs(op.s[0][j]) + std::fabs(op.s[1][j]) + std::fabs(op.s[2][j]);
      v += index * (column * xmax[j] + std::fabs(op.t[j]));
    }
    turns = std::max(turns, v);
  }
  // The largest scattering of every atom, over all terms.
  double f000 = 0;
  for (const Atom& a : par.atoms) {
    const int t = type_number(a);
    if (t < 1 || t > static_cast<int>(par.types.size())) continue;
    const AtomType& type = par.types[static_cast<std::size_t>(t - 1)];
    double f = std::fabs(f0(type, 0.0));
    for (float v : type.f0_table) f = std::max(f, std::fabs(double(v)));
    f000 += std::fabs(double(a.afact)) * (f + std::fabs(double(type.fp)) + std::fabs(double(type.fpp)));
  }
  f000 *= double(n_ops) * (par.ic == 1 ? 2 : 1);
  const double eps = 0x1p-24;
  const double relative = eps * (2 * std::numbers::pi * turns + double(n_ops) + 8) + 1e-6;
  return 4 * f000 * relative + 1e-6;
}

ReflectionCache::ReflectionCache(const RunParameters& par, int hmax, int kmax, int lmax, Method method,
                                 std::size_t budget)
    : par_(par), symmetry_(par) {
  const int hb = std::max(hmax, 0) + std::abs(par.h);
  const int kb = std::max(kmax, 0) + std::abs(par.k);
  const int lb = std::max(lmax, 0) + std::abs(par.l);
  rows_ = symmetry_.integral() && method != Method::direct;
  if (method == Method::automatic) {
    // Rows pay when their runs are filled: where the index box is large.
    rows_ = rows_ && std::size_t(2 * hb + 1) * std::size_t(2 * kb + 1) * std::size_t(2 * lb + 1) > 2'000'000;
  }
  margin_ = kaven::screening_margin(par, hb, kb, lb);
  screening_ = std::make_unique<Store>(hb, kb, lb, used_, budget);
  exact_ = std::make_unique<Store>(hb, kb, lb, used_, budget);
}

ReflectionCache::~ReflectionCache() = default;

ReflectionCache::Counts ReflectionCache::counts() const {
  return {sums_.load(), screened_.load(), exact_count_.load(), screening_->bytes() + exact_->bytes()};
}

ReflectionCache::Reader::Reader(ReflectionCache& cache) : cache_(cache), direct_(cache.par_) {
  if (cache.rows_) rows_ = std::make_unique<StructureFactorRows>(cache.par_);
}

ReflectionCache::Reader::~Reader() = default;

ReflectionCache::Entry ReflectionCache::Reader::screening(int h, int k, int l) {
  std::atomic<std::uint64_t>* slot = cache_.screening_->slot(h, k, l, false);
  if (slot) {
    const std::uint64_t v = slot->load(std::memory_order_relaxed);
    if (v != kEmpty) return unpack(v);
  }
  // Near the end of the scattering-factor model (s = 6) the member of an orbit and its
  // representative may fall on different sides: there the exact value serves (and no
  // screening value is kept).
  const float s = reflection_s(cache_.par_, h, k, l);
  if (!(s < kModelEdge)) return exact(h, k, l, s);
  fill({h, k, l});
  slot = cache_.screening_->slot(h, k, l, false);
  if (slot) {
    const std::uint64_t v = slot->load(std::memory_order_relaxed);
    if (v != kEmpty) return unpack(v);
  }
  return exact(h, k, l, s);  // outside the kept box
}

ReflectionCache::Entry ReflectionCache::Reader::exact(int h, int k, int l, float s) {
  std::atomic<std::uint64_t>* slot = cache_.exact_->slot(h, k, l, true);
  if (slot) {
    const std::uint64_t v = slot->load(std::memory_order_relaxed);
    if (v != kEmpty) return unpack(v);
  }
  const StructureFactor f = direct_(h, k, l, s);
  ++cache_.exact_count_;
  // Two threads may form the same reflection; they store the same value.
  if (slot) slot->store(pack(f.fmod, f.phase), std::memory_order_relaxed);
  return {f.fmod, f.phase};
}

// Forms the sum of the representative of h (with those of its row's block when the
// sums go by rows) and keeps what it gives.
void ReflectionCache::Reader::fill(const Miller& h) {
  const ReflectionSymmetry& sym = cache_.symmetry_;
  const Miller rep = sym.representative(h);
  const float s_rep = reflection_s(cache_.par_, rep[0], rep[1], rep[2]);
  // (the members of an orbit have the same s to within rounding)
  if (!(s_rep < kModelEdge - 0.01f)) return;
  // A systematic absence is 0 to within the rounding of a sum: no sum is formed.
  if (sym.absent(rep)) {
    keep(rep, StructureFactorPair{});
    return;
  }
  if (!rows_) {
    const StructureFactorPair f = direct_.pair(rep[0], rep[1], rep[2], s_rep);
    ++cache_.sums_;
    keep(rep, f);
    return;
  }
  const int l0 = floor_div(rep[2], kBlock) * kBlock;
  float s[kBlock];
  for (int j = 0; j < kBlock; ++j) s[j] = reflection_s(cache_.par_, rep[0], rep[1], l0 + j);
  StructureFactorPair f[kBlock];
  rows_->evaluate(rep[0], rep[1], l0, s, f);
  cache_.sums_ += kBlock;
  // Only the representatives among them: any other member would be derived a second
  // way, and every value must have one.
  for (int j = 0; j < kBlock; ++j) {
    const Miller g{rep[0], rep[1], l0 + j};
    if (s[j] < kModelEdge - 0.01f && sym.representative(g) == g) keep(g, sym.absent(g) ? StructureFactorPair{} : f[j]);
  }
}

// F of every member of the orbits of rep and -rep, each slot written once (the first
// derivation in the operators' order wins, whichever thread writes).
void ReflectionCache::Reader::keep(const Miller& rep, const StructureFactorPair& f) {
  cache_.symmetry_.members(rep, members_);
  for (const ReflectionSymmetry::Member& m : members_) {
    std::atomic<std::uint64_t>* s = cache_.screening_->slot(m.g[0], m.g[1], m.g[2], true);
    if (!s || s->load(std::memory_order_relaxed) != kEmpty) continue;
    const Entry v = turned(m.sign > 0 ? f.plus : f.minus, m.turns);
    std::uint64_t expected = kEmpty;
    if (s->compare_exchange_strong(expected, pack(v.fmod, v.phase), std::memory_order_relaxed))
      ++cache_.screened_;
  }
}

}  // namespace kaven
