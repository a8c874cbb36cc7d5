// Parses arbitrary bytes, writes the tree in both forms, parses the written text again, looks up
// and edits, and frees everything. With the default options the written text must settle: after
// one round, parsing and writing it again gives the same text.
#include "xml/XmlParser.h"
#include "xml/XmlWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

namespace {

std::string written(XmlNodeRef node, bool compact) {
    std::ostringstream out;
    if (compact) {
        out.flags(std::ios_base::skipws);
    }
    writeDocument(out, node);
    return out.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first two bytes choose the option word (or the default) and the growth step.
    const bool defaults = data[0] & 1;
    const unsigned options = defaults ? XmlParser::ParseDefault : (data[0] | (data[1] << 8)) & 0xFFFF;
    const unsigned step = 1 + data[1] % 8;
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

    XmlParser parser;
    parser.parseText(text, step, options);
    const std::string first = written(parser.root(), false);
    written(parser.root(), true);

    // Junk that the writer drops (a declaration without a name) may vanish in the first round;
    // from then on the text must stay the same in both forms.
    XmlParser again;
    again.parseText(first, step, options);
    const std::string second = written(again.root(), false);
    const std::string compact = written(again.root(), true);
    if (defaults) {
        XmlParser third;
        third.parseText(second, step, options);
        if (written(third.root(), false) != second) {
            std::abort(); // the writer's output did not read back as the same tree
        }
        XmlParser fromCompact;
        fromCompact.parseText(compact, step, options);
        if (written(fromCompact.root(), false) != second) {
            std::abort(); // the compact form did not read back as the same tree
        }
    }

    XmlNodeRef element = again.root().firstByName("a");
    element.attribute("id").setText(std::string_view(text.substr(0, 8)));
    again.root()
        .firstWithAttribute(nullptr, "id", "1", static_cast<int>(data[1] % 4) - 1)
        .appendChild(NodeElement);
    if (XmlNodeRef top = again.root().child(0); top.childCount() > 0) {
        freeTree(top.child(0).get());
    }
    written(again.root(), false);
    return 0;
}
