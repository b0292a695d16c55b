// Loads and writes back a large update catalogue with the XML subsystem and with libxml2, from the same text,
// and prints the time and the memory each tree takes: xml_bench [ENTRIES]
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <malloc.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bench/common/measure.h"
#include "xml/xml.h"

namespace {

// --- Allocation counting: every block carries its requested size in front of it ---

constexpr std::size_t kHeader = 16;
long long liveBytes = 0;

void* CountedMalloc(std::size_t size) {
    auto* block = static_cast<char*>(std::malloc(size + kHeader));
    if (!block) {
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    liveBytes += static_cast<long long>(size);
    return block + kHeader;
}

void CountedFree(void* pointer) {
    if (!pointer) {
        return;
    }
    char* block = static_cast<char*>(pointer) - kHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    liveBytes -= static_cast<long long>(size);
    std::free(block);
}

void* CountedRealloc(void* pointer, std::size_t size) {
    if (!pointer) {
        return CountedMalloc(size);
    }
    char* block = static_cast<char*>(pointer) - kHeader;
    std::size_t old = 0;
    std::memcpy(&old, block, sizeof old);
    auto* grown = static_cast<char*>(std::realloc(block, size + kHeader));
    if (!grown) {
        return nullptr;
    }
    std::memcpy(grown, &size, sizeof size);
    liveBytes += static_cast<long long>(size) - static_cast<long long>(old);
    return grown + kHeader;
}

char* CountedStrdup(const char* text) {
    std::size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(CountedMalloc(size));
    if (copy) {
        std::memcpy(copy, text, size);
    }
    return copy;
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* pointer = CountedMalloc(size)) {
        return pointer;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* pointer) noexcept { CountedFree(pointer); }
void operator delete[](void* pointer) noexcept { CountedFree(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { CountedFree(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { CountedFree(pointer); }

// Aligned blocks (the tree's pool takes its chunks this way) are cut from a counted block with room to align;
// only the size asked for is counted, and the counted block's address is kept just before the aligned one.
void* operator new(std::size_t size, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    const std::size_t slack = align + sizeof(void*);
    auto* raw = static_cast<char*>(CountedMalloc(size + slack));
    if (!raw) throw std::bad_alloc();
    liveBytes -= static_cast<long long>(slack);
    const auto start = reinterpret_cast<std::uintptr_t>(raw + sizeof(void*));
    auto* aligned = reinterpret_cast<char*>((start + align - 1) / align * align);
    std::memcpy(aligned - sizeof(void*), &raw, sizeof raw);
    return aligned;
}
void operator delete(void* pointer, std::align_val_t alignment) noexcept {
    if (!pointer) return;
    char* raw = nullptr;
    std::memcpy(&raw, static_cast<char*>(pointer) - sizeof(void*), sizeof raw);
    liveBytes += static_cast<long long>(static_cast<std::size_t>(alignment) + sizeof(void*));
    CountedFree(raw);
}
void operator delete(void* pointer, std::size_t, std::align_val_t alignment) noexcept {
    operator delete(pointer, alignment);
}

namespace {

// --- The catalogue ---

void AppendEntry(std::string& out, const char* group, int index, bool required) {
    std::string id = std::to_string(index);
    out += "      <file>\r\n";
    out += "        <name>" + std::string(group) + " component " + id + "</name>\r\n";
    out += "        <filename>" + std::string(group) + "/part" + id + ".bin</filename>\r\n";
    out += "        <crc>$" + std::to_string(0x10000000 + index * 7919) + "</crc>\r\n";
    out += "        <size>" + std::to_string(100000 + index * 37 % 900000) + "</size>\r\n";
    out += "        <downloadsize>" + std::to_string(40000 + index * 13 % 400000) + "</downloadsize>\r\n";
    out += "        <download>http://update.quelmar.example/release/" + std::string(group) + "/part" + id +
           ".zip</download>\r\n";
    out += "        <action>replace</action>\r\n";
    if (required) {
        out += "        <required/>\r\n";
    }
    if (std::string_view(group) == "custom") {
        out += "        <destination>%ProgramData%\\Quelmar\\Brellium &amp; Extras</destination>\r\n";
    }
    out += "      </file>\r\n";
}

std::string Catalogue(int entries) {
    static const char* const groups[] = {"database", "tools", "program", "custom"};
    static const int shares[] = {80, 10, 2, 8};  // percent of the entries per group
    // The root is "run", so the pre- and post-install programs sit beside "update" in one root element.
    std::string out = "<?xml version=\"1.0\"?>\r\n<run>\r\n  <update>\r\n";
    int index = 0;
    for (int g = 0; g < 4; ++g) {
        out += "    <" + std::string(groups[g]) + ">\r\n";
        for (int i = 0; i < entries * shares[g] / 100; ++i) {
            AppendEntry(out, groups[g], index++, g == 2);
        }
        out += "    </" + std::string(groups[g]) + ">\r\n";
    }
    out += "  </update>\r\n  <postinstall>\r\n    <filename>%ProgramFiles%\\Brellium\\post.exe</filename>\r\n"
           "    <nowait/>\r\n  </postinstall>\r\n</run>\r\n";
    return out;
}

// --- Measuring ---

// CPU time of this thread: other processes on a shared machine change the wall time, not this.
struct Clock {
    static double now() {
        timespec time{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
    }
};

double Seconds(double since) { return Clock::now() - since; }

// A fresh heap hands freed memory back to the system before each load, so the tree's pages are new as in a
// process that loads its catalogue once; otherwise each load reuses the pages the previous round freed.
void PrepareHeap(bool fresh) {
    if (fresh) {
        malloc_trim(0);
    }
}

// Times are medians over the rounds.
struct TResult {
    double loadSeconds = 0;
    double saveSeconds = 0;
    long long treeBytes = 0;
    std::size_t writtenBytes = 0;
    std::vector<double> loads;
    std::vector<double> saves;

    void TakeMedians() {
        loadSeconds = benchsupport::Median(loads);
        saveSeconds = benchsupport::Median(saves);
    }
};

TResult MeasureOurs(const std::string& text, int rounds, bool freshHeap) {
    TResult result;
    for (int round = 0; round < rounds; ++round) {
        long long before = liveBytes;
        TRef<TXmlDDocument> document(new TXmlDDocument);
        PrepareHeap(freshHeap);
        auto start = Clock::now();
        LoadXml(document.get(), text);
        result.loads.push_back(Seconds(start));
        result.treeBytes = liveBytes - before;
        start = Clock::now();
        std::string written = document->GetXml();
        result.saves.push_back(Seconds(start));
        result.writtenBytes = written.size();
    }
    result.TakeMedians();
    return result;
}

TResult MeasureLibxml2(const std::string& text, int rounds, bool freshHeap, int options) {
    TResult result;
    for (int round = 0; round < rounds; ++round) {
        long long before = liveBytes;
        PrepareHeap(freshHeap);
        auto start = Clock::now();
        xmlDocPtr document = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, options);
        result.loads.push_back(Seconds(start));
        if (!document) {
            std::fprintf(stderr, "libxml2 did not load the catalogue\n");
            std::exit(1);
        }
        result.treeBytes = liveBytes - before;
        start = Clock::now();
        xmlChar* written = nullptr;
        int size = 0;
        xmlDocDumpMemory(document, &written, &size);
        result.saves.push_back(Seconds(start));
        result.writtenBytes = static_cast<std::size_t>(size);
        xmlFree(written);
        xmlFreeDoc(document);
    }
    result.TakeMedians();
    return result;
}

void Print(const char* name, const TResult& result) {
    std::printf("%-28s load %8.1f ms   write %8.1f ms   tree %8.1f MB   written %6.1f MB\n", name,
                result.loadSeconds * 1e3, result.saveSeconds * 1e3, static_cast<double>(result.treeBytes) / 1e6,
                static_cast<double>(result.writtenBytes) / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
    xmlMemSetup(CountedFree, CountedMalloc, CountedRealloc, CountedStrdup);
    xmlInitParser();
    int entries = argc > 1 ? std::atoi(argv[1]) : 55000;
    const int rounds = 5;
    std::string text = Catalogue(entries);
    std::printf("catalogue: %d entries, %.1f MB; medians of %d rounds, thread CPU time\n", entries,
                static_cast<double>(text.size()) / 1e6, rounds);

    for (bool freshHeap : {true, false}) {
        std::printf("\n-- %s heap\n", freshHeap ? "fresh" : "reused");
        TResult ours = MeasureOurs(text, rounds, freshHeap);
        TResult libxml2 = MeasureLibxml2(text, rounds, freshHeap, 0);
        TResult noBlanks = MeasureLibxml2(text, rounds, freshHeap, XML_PARSE_NOBLANKS);
        Print("orvane_xml", ours);
        Print("libxml2 (xmlReadMemory)", libxml2);
        Print("libxml2 (XML_PARSE_NOBLANKS)", noBlanks);
        std::printf("load time   ours / libxml2: %.2f   (target <= 1.00)\n", ours.loadSeconds / libxml2.loadSeconds);
        std::printf("tree memory ours / libxml2: %.2f   (target <= 1.00, aim 0.50)\n",
                    static_cast<double>(ours.treeBytes) / static_cast<double>(libxml2.treeBytes));
        std::printf("write time  ours / libxml2: %.2f\n", ours.saveSeconds / libxml2.saveSeconds);
        std::printf("against NOBLANKS: load %.2f, memory %.2f\n", ours.loadSeconds / noBlanks.loadSeconds,
                    static_cast<double>(ours.treeBytes) / static_cast<double>(noBlanks.treeBytes));
        const std::string heap = freshHeap ? " (fresh heap)" : " (reused heap)";
        const double load = ours.loadSeconds / libxml2.loadSeconds;
        benchsupport::PrintResultRow("XML load / libxml2" + heap, load, "<= 1.00", load <= 1.0);
        if (freshHeap) {
            const double memory = static_cast<double>(ours.treeBytes) / static_cast<double>(libxml2.treeBytes);
            benchsupport::PrintResultRow("XML tree memory / libxml2", memory, "<= 1.00", memory <= 1.0);
        }
    }
    xmlCleanupParser();
    return 0;
}
