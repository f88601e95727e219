#include "cli_support.hpp"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "test_os.hpp"

namespace chizuvec::test {

std::string default_ini() { return read_file(std::string(CHIZUVEC_SOURCE_DIR) + "/Chizuvec.ini"); }

std::string sample_map_path() { return std::string(CHIZUVEC_SOURCE_DIR) + "/samples/sample.xml"; }

bool xml_well_formed(const std::string& path) {
    return std::system(("xmllint --noout '" + path + "' 2>/dev/null").c_str()) == 0;
}

ProgramDir::ProgramDir(const char* ini) {
    exe = dir.file(executable_name("Chizuvec"));
    std::filesystem::copy_file(CHIZUVEC_BINARY, exe);
    std::filesystem::permissions(exe, std::filesystem::perms::owner_all);
    if (ini != nullptr) dir.write("Chizuvec.ini", ini);
}

RunResult ProgramDir::run(const std::vector<std::string>& args, const std::string& cwd,
                          const std::vector<std::string>& env) const {
    // Output goes to files, so a large listing cannot fill a pipe while we wait.
    // Names of their own for each run: under Wine a file just removed can stay pending deletion
    // while the ended child's handle closes, and a new file of that name cannot be made.
    static std::atomic<unsigned> runs{0};
    const std::string n = std::to_string(runs++);
    const std::string out_path = dir.file(".stdout" + n), err_path = dir.file(".stderr" + n);
    RunResult r;
    r.exit_code = run_process(exe, args, cwd.empty() ? dir.path.string() : cwd, env, out_path, err_path);
    r.out = console_text(read_file(out_path));
    r.err = console_text(read_file(err_path));
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return r;
}

bool wait_for_entry(const std::string& folder, const std::function<bool(const std::filesystem::path&)>& seen,
                    std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            if (seen(entry.path())) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

const std::vector<std::pair<int, int>> kOuterRing = {{1000, 2000}, {1000, 2100}, {1100, 2100}, {1100, 2000}};
const std::vector<std::pair<int, int>> kInnerRing = {{1040, 2040}, {1060, 2040}, {1060, 2060}, {1040, 2060}};

std::string square_rings_head(const std::string& name, const std::vector<std::pair<int, int>>& points) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<地図>\n<地図名>" + name +
                    "</地図名>\n<市区町村名>町</市区町村名>\n<座標系>公共座標9系</座標系>\n<空間属性>\n";
    for (std::size_t i = 0; i < points.size(); ++i) {
        s += "<zmn:GM_Point id=\"P" + std::to_string(i + 1) + "\">\n<zmn:X>" + std::to_string(points[i].first) +
             "</zmn:X>\n<zmn:Y>" + std::to_string(points[i].second) + "</zmn:Y>\n</zmn:GM_Point>\n";
    }
    // Curve k runs from point k to the next point of its ring.
    for (std::size_t k = 1; k <= points.size(); ++k) {
        const std::size_t next = k % 4 == 0 ? k - 3 : k + 1;
        s += "<zmn:GM_Curve id=\"C" + std::to_string(k) + "\">\n";
        for (const std::size_t p : {k, next}) {
            s += "<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref=\"P" + std::to_string(p) +
                 "\"/>\n</zmn:GM_Position.indirect>\n";
        }
        s += "</zmn:GM_Curve>\n";
    }
    return s;
}

std::string holed_map() {
    std::vector<std::pair<int, int>> points = kOuterRing;
    points.insert(points.end(), kInnerRing.begin(), kInnerRing.end());
    std::string s = square_rings_head("穴", points);
    const auto ring = [](const std::string& boundary, int first) {
        std::string r = "<zmn:GM_SurfaceBoundary." + boundary + ">\n<zmn:GM_Ring>\n";
        for (int c = first; c < first + 4; ++c) {
            r += "<zmn:GM_CompositeCurve.generator idref=\"C" + std::to_string(c) + "\"/>\n";
        }
        return r + "</zmn:GM_Ring>\n</zmn:GM_SurfaceBoundary." + boundary + ">\n";
    };
    s += "<zmn:GM_Surface id=\"F1\">\n" + ring("exterior", 1) + ring("interior", 5) + "</zmn:GM_Surface>\n";
    s += "<zmn:GM_Surface id=\"F2\">\n" + ring("exterior", 5) + "</zmn:GM_Surface>\n</空間属性>\n<主題属性>\n";
    s += "<筆 id=\"H1\">\n<大字名>町</大字名>\n<地番>2</地番>\n<形状 idref=\"F2\"/>\n</筆>\n";
    s += "<筆 id=\"H2\">\n<大字名>町</大字名>\n<地番>1</地番>\n<形状 idref=\"F1\"/>\n</筆>\n";
    return s +
           "</主題属性>\n<図郭>\n<地図番号>A</地図番号>\n<筆参照 idref=\"H1\"/>\n<筆参照 "
           "idref=\"H2\"/>\n</図郭>\n</地図>\n";
}

double shoelace(const std::vector<std::pair<int, int>>& ring) {
    double twice = 0.0;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const auto& [x0, y0] = ring[i];
        const auto& [x1, y1] = ring[(i + 1) % ring.size()];
        twice += static_cast<double>(x0) * y1 - static_cast<double>(x1) * y0;
    }
    return std::abs(twice) / 2.0;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
        parts.push_back(text.substr(start, end - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

}  // namespace chizuvec::test
