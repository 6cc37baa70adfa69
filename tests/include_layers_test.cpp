// The folders of src/ form layers: a folder includes only folders below it, so no two
// folders include each other, and the computation (core, input, crystal, scattering,
// simulation, scans, analysis, planning) includes nothing that writes (report, plot) or
// drives (shell, gui). Read from the sources themselves, so that an include that breaks a
// layer fails here with the file that holds it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Edge {
  std::string from, to, file;
};

// Every `#include "folder/..."` of the sources, folded to folders; the generated tables
// (data/) are not a folder of src/.
std::vector<Edge> folder_includes() {
  std::vector<Edge> edges;
  const fs::path src = fs::path(KAVEN_SOURCE_DIR) / "src";
  for (const auto& entry : fs::recursive_directory_iterator(src)) {
    const fs::path& p = entry.path();
    if (!entry.is_regular_file() || (p.extension() != ".hpp" && p.extension() != ".cpp")) continue;
    const std::string from = fs::relative(p, src).begin()->string();
    std::ifstream in(p);
    for (std::string line; std::getline(in, line);) {
      const std::string tag = "#include \"";
      if (line.rfind(tag, 0) != 0) continue;
      const std::string target = line.substr(tag.size());
      const std::size_t slash = target.find('/');
      if (slash == std::string::npos) continue;
      const std::string to = target.substr(0, slash);
      if (to == "data") continue;
      edges.push_back({from, to, fs::relative(p, src).string()});
    }
  }
  return edges;
}

// A cycle through `start` in the folder graph, as the list of folders on it.
bool find_cycle(const std::map<std::string, std::set<std::string>>& graph, const std::string& node,
                const std::string& start, std::set<std::string>& seen,
                std::vector<std::string>& path) {
  auto it = graph.find(node);
  if (it == graph.end()) return false;
  for (const std::string& next : it->second) {
    if (next == start) {
      path.push_back(next);
      return true;
    }
    if (!seen.insert(next).second) continue;
    path.push_back(next);
    if (find_cycle(graph, next, start, seen, path)) return true;
    path.pop_back();
  }
  return false;
}

TEST(IncludeLayers, NoTwoFoldersDependOnEachOther) {
  const std::vector<Edge> edges = folder_includes();
  ASSERT_GT(edges.size(), 50u) << "the sources were not found";
  std::map<std::string, std::set<std::string>> graph;
  for (const Edge& e : edges)
    if (e.from != e.to) graph[e.from].insert(e.to);
  for (const auto& [folder, targets] : graph) {
    std::set<std::string> seen;
    std::vector<std::string> path{folder};
    if (find_cycle(graph, folder, folder, seen, path)) {
      std::string cycle;
      for (const std::string& f : path) cycle += (cycle.empty() ? "" : " -> ") + f;
      ADD_FAILURE() << "folders include each other: " << cycle;
    }
  }
}

TEST(IncludeLayers, ComputationIncludesNoWriterAndNoDriver) {
  const std::set<std::string> computation = {"core", "input", "crystal", "scattering",
                                             "simulation", "scans", "analysis",
                                             "planning"};
  const std::set<std::string> above = {"report", "plot", "shell", "gui"};
  for (const Edge& e : folder_includes()) {
    if (computation.count(e.from) && above.count(e.to))
      ADD_FAILURE() << e.file << " includes a header of " << e.to << "/";
    if (e.from == "core" && e.to != "core")
      ADD_FAILURE() << e.file << ": core/ includes only core/, found " << e.to << "/";
  }
}

}  // namespace
