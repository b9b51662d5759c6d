// Cost of reading generic JSON values, on three shapes: [1,1,…], [[],[],…] and [{"k":0},…].
//
//   vesk_json_bench peak SHAPE MB   one shape (numbers, arrays or objects) per process, so
//                                   that peaks do not mix: {"text": bytes, "peak": bytes the
//                                   reading added}
//   vesk_json_bench time MB...      {"SHAPE/MB": nanoseconds per byte of text, ...}
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "vesk/core/json_reader.h"

namespace {

struct Shape {
    std::string_view name;
    std::string_view element;
};
constexpr Shape kShapes[] = {{"numbers", "1"}, {"arrays", "[]"}, {"objects", "{\"k\":0}"}};

std::string_view element_of(std::string_view name) {
    for (const Shape& shape : kShapes) {
        if (shape.name == name) return shape.element;
    }
    std::fprintf(stderr, "unknown shape\n");
    std::exit(2);
}

// A top-level array of `element`s, about `bytes` long.
std::string text_of(std::string_view element, std::size_t bytes) {
    std::string text = "[";
    text.reserve(bytes + element.size() + 2);
    while (text.size() + element.size() + 1 < bytes) {
        text += element;
        text += ',';
    }
    text += element;
    text += ']';
    return text;
}

// VmRSS or VmHWM in bytes.
std::size_t status_bytes(std::string_view field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field)) return std::stoul(line.substr(field.size() + 1)) * 1024;
    }
    return 0;
}

void read_or_exit(std::string_view text) {
    if (!vesk::json::parse(text)) {
        std::fprintf(stderr, "benchmark text refused\n");
        std::exit(1);
    }
}

int peak(std::string_view shape, std::size_t megabytes) {
    const std::string text = text_of(element_of(shape), megabytes << 20);
    std::ofstream("/proc/self/clear_refs") << "5";  // resets VmHWM to VmRSS
    const std::size_t before = status_bytes("VmRSS:");
    read_or_exit(text);
    std::printf("{\"text\": %zu, \"peak\": %zu}\n", text.size(), status_bytes("VmHWM:") - before);
    return 0;
}

// The best of several readings, per byte.
int time(char** sizes, int count) {
    std::printf("{");
    const char* separator = "";
    for (const Shape& shape : kShapes) {
        for (int i = 0; i < count; ++i) {
            const std::string text = text_of(shape.element, std::stoul(sizes[i]) << 20);
            double best = 1e300;
            for (int round = 0; round < 5; ++round) {
                const auto start = std::chrono::steady_clock::now();
                read_or_exit(text);
                const std::chrono::duration<double, std::nano> spent =
                    std::chrono::steady_clock::now() - start;
                best = std::min(best, spent.count() / static_cast<double>(text.size()));
            }
            std::printf("%s\"%s/%s\": %.2f", separator, std::string(shape.name).c_str(), sizes[i],
                        best);
            separator = ", ";
        }
    }
    std::printf("}\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "peak" && argc == 4) return peak(argv[2], std::stoul(argv[3]));
    if (mode == "time" && argc > 2) return time(argv + 2, argc - 2);
    std::fprintf(stderr, "usage: vesk_json_bench peak SHAPE MB | time MB...\n");
    return 2;
}
