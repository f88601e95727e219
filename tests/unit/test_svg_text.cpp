#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <random>
#include <vector>

#include "common/fixed_text.hpp"
#include "platform/platform.hpp"
#include "render/parcel_style.hpp"
#include "render/svg_output.hpp"
#include "render/svg_text.hpp"
#include "render/svg_writer.hpp"
#include "render/xml_text.hpp"
#include "test_os.hpp"
#include "test_support.hpp"

namespace chizuvec {
namespace {

// Runs a writer into memory through a deliberately small buffer, so the flushes are exercised too.
template <typename Write>
std::string written(Write write) {
    std::string text;
    SvgOutput out = make_output(nullptr, &text, 64);
    write(out);
    EXPECT_TRUE(flush_output(out));
    return text;
}

// The SVG elements of the marks that `add` puts on an empty page.
template <typename Add>
std::string marks_of(Add add) {
    Drawing drawing;
    add(drawing);
    return written([&](SvgOutput& out) { write_marks(out, drawing); });
}

TEST(SvgOutput, LongTextsAndNumbersCrossBufferBoundaries) {
    const std::string long_text(1000, 'x');
    const std::string text = written([&](SvgOutput& out) {
        for (int i = 0; i < 50; ++i) {
            put_int(out, -2147483648LL + i);
            put(out, ",");
        }
        put(out, long_text);
    });
    std::string expected;
    for (int i = 0; i < 50; ++i) expected += std::to_string(-2147483648LL + i) + ",";
    EXPECT_EQ(text, expected + long_text);
}

TEST(LabelClass, AreaThresholdsHighlightsAndPrefixes) {
    RenderSettings s;
    s.svg_area_gt_c1 = 6000;
    s.svg_area_gt_c2 = 1200;
    copy_text(s.svg_chiban_sp1, "別図");
    copy_text(s.svg_chiban_sp2, "道");
    copy_text(s.svg_chiban_sp3, "水");
    struct Case {
        const char* what;
        const char* chiban;
        double area;  // square metres, drawn at scale 2: four drawing units per square metre
        std::int32_t hilite;
        int cls;
    };
    const Case cases[] = {
        {"above c1", "1", 1500.25, 0, 1},
        {"exactly c1 is only c2", "1", 1500, 0, 2},
        {"above c2", "1", 300.25, 0, 2},
        {"exactly c2 is nothing", "1", 300, 0, 0},
        {"small highlighted gets c2", "1", 1, 1, 2},
        {"large highlighted gets c1", "1", 2000, 1, 1},
        {"prefixed parcel stays unlabelled", "道1", 1e9, 0, 0},
        {"highlighted prefixed parcel by area", "別図1", 2000, 1, 1},
        {"highlighted prefixed small parcel", "道1", 0, 1, 2},
        {"NaN area unlabelled", "1", std::nan(""), 0, 0},
        {"NaN area highlighted", "1", std::nan(""), 1, 2},
    };
    for (const Case& c : cases) {
        Parcel p;
        copy_text(p.chiban, c.chiban);
        p.area = c.area;
        p.hilite = c.hilite;
        EXPECT_EQ(label_class(p, 2.0, s), c.cls) << c.what;
    }
    // An empty first prefix leaves only the highlighted parcels labelled.
    copy_text(s.svg_chiban_sp1, "");
    Parcel big;
    copy_text(big.chiban, "5");
    big.area = 1e6;
    EXPECT_EQ(label_class(big, 2.0, s), 0);
    big.hilite = 1;
    EXPECT_EQ(label_class(big, 2.0, s), 1);
}

TEST(Title, MapNumberAndEscapedFileName) {
    RenderSettings s;
    s.svg_viewbox_marginx = 40;
    s.svg_font_size_title = 24;
    copy_text(s.svg_font_title, "IPAexGothic");
    MapHeader h;
    copy_text(h.municipality_name, "千葉市稲毛区");
    copy_text(h.map_name, "稲毛");
    copy_text(h.coord_system, "公共座標9系");
    const std::string prefix =
        "<text x=\"40\" y=\"24\" text-anchor=\"start\" font-family=\"IPAexGothic,sans-serif\" font-size=\"24\">"
        "【千葉市稲毛区】　〔稲毛〕　&quot;";
    EXPECT_EQ(marks_of([&](Drawing& d) { add_title(d, "/maps/12103-0400-76.zip", "", h, s, 24); }),
              prefix + "12103-0400-76.zip&quot;　＜公共座標9系＞</text>\r\n");
    EXPECT_EQ(marks_of([&](Drawing& d) { add_title(d, "12103.xml", "12", h, s, 24); }),
              prefix + "12103.xml&quot;　（12）　＜公共座標9系＞</text>\r\n");
    EXPECT_EQ(marks_of([&](Drawing& d) { add_title(d, "d/<a&'b\">.xml", "", h, s, 24); }),
              prefix + "&lt;a&amp;&apos;b&quot;&gt;.xml&quot;　＜公共座標9系＞</text>\r\n");
}

TEST(ScaleBar, HeightLiftAndLabel) {
    RenderSettings s;
    s.svg_viewbox_marginx = 40;
    s.svg_viewbox_marginy = 80;
    SvgLayout layout;
    layout.scale = 4.0;
    layout.viewbox_width = 2000;
    layout.viewbox_height = 1040;

    ScaleBar bar = compute_scale_bar(layout, s, 0);
    EXPECT_EQ(bar.bar_length, 400);
    EXPECT_EQ(bar.bar_height, 60);
    EXPECT_EQ(bar.bar_lift, 4);
    // The bar and the source line share the bottom line up to exactly the drawing's width.
    EXPECT_EQ(compute_scale_bar(layout, s, 2000 - 80 - 400).bar_lift, 4);
    EXPECT_EQ(compute_scale_bar(layout, s, 2000 - 80 - 400 + 1).bar_lift, 80);
    EXPECT_EQ(compute_scale_bar(layout, s, 100000).bar_lift, 80);

    EXPECT_EQ(marks_of([&](Drawing& d) { add_scale_bar(d, bar, layout, s); }),
              "<path d=\"M40,976v+60h400v-60\" stroke=\"#000000\" stroke-width=\"4\" fill=\"none\"/>\r\n"
              "<text x=\"240\" y=\"1026\" text-anchor=\"middle\" font-family=\"Arial,sans-serif\" font-size=\"60\">"
              "100 m</text>\r\n");

    s.svg_viewbox_marginy = 30;
    bar = compute_scale_bar(layout, s, 100000);
    EXPECT_EQ(bar.bar_height, 30);
    EXPECT_EQ(bar.bar_lift, 30);
    EXPECT_EQ(marks_of([&](Drawing& d) { add_scale_bar(d, bar, layout, s); }),
              "<path d=\"M40,980v+30h400v-30\" stroke=\"#000000\" stroke-width=\"4\" fill=\"none\"/>\r\n"
              "<text x=\"240\" y=\"1000\" text-anchor=\"middle\" font-family=\"Arial,sans-serif\" font-size=\"30\">"
              "100 m</text>\r\n");
}

// Where the 100 m bar is too long for the page, or its label would leave it, the bar takes the
// longest 1-2-5 length within half the width and its label stays on the page.
TEST(ScaleBar, FittedLengthAndLabelInsideThePage) {
    RenderSettings s;
    s.svg_viewbox_marginx = 40;
    s.svg_viewbox_marginy = 100;
    struct Case {
        double scale;
        std::int32_t width;
        double metres;
        const char* label;
    };
    const Case cases[] = {
        {4.0, 2000, 100, "100 m"},                             // fits: unchanged
        {534.0, 1297, 1, "1 m"},                               // a parcel of a few square metres
        {0.56, 2000, 1000, "1 km"},                            // 100 m fits, but its label would leave the page
        {1.5, 2000, 500, "500 m"},                             // 100 m is shorter than its label
        {2000.0, 1000, 0.2, "0.2 m"}, {1.0, 100, 50, "50 m"},  // the label is wider than the page allows
        {0.01, 1000, 50000, "50 km"},
    };
    for (const Case& c : cases) {
        SvgLayout layout;
        layout.scale = c.scale;
        layout.viewbox_width = c.width;
        layout.viewbox_height = 1000;
        const ScaleBar bar = compute_scale_bar(layout, s, 0);
        EXPECT_DOUBLE_EQ(bar.metres, c.metres) << c.scale;
        EXPECT_EQ(scale_bar_label(bar), c.label);
        EXPECT_LE(bar.bar_length, c.width / 2) << c.scale;
        const std::int32_t half_label = scale_bar_label_width(c.label, bar.bar_height) / 2;
        if (half_label * 2 + bar.bar_height < c.width / 5) {
            EXPECT_GT(bar.bar_length, half_label * 2) << c.scale;
        }
        if (half_label * 2 <= c.width) {
            EXPECT_GE(bar.label_x - half_label, 0) << c.scale;
            EXPECT_LE(bar.label_x + half_label, c.width) << c.scale;
        }
    }
}

// A title wider than the page between its margins is set smaller, just so that it fits.
TEST(Title, SetSmallerToFitThePage) {
    RenderSettings s;
    copy_text(s.svg_font_title, "IPAexGothic");
    s.svg_font_size_title = 24;
    s.svg_viewbox_marginx = 40;
    const std::string title = "【千葉市稲毛区】　〔稲毛〕　\"12103-0400-76.zip\"　（H7  35）　＜公共座標9系＞";
    const auto width_at = [&](std::uint32_t size) {
        platform::TextExtent extent;
        EXPECT_TRUE(platform::measure_text(title, "IPAexGothic", size, extent));
        return source_width_from_extent(extent, size);
    };
    EXPECT_EQ(fitted_title_size(title, 2000, s), 24u);  // fits
    for (const std::int32_t page : {800, 400}) {
        const std::uint32_t size = fitted_title_size(title, page, s);
        EXPECT_LT(size, 24u) << page;
        EXPECT_LE(width_at(size), page - 80) << page;
        EXPECT_GT(width_at(size + 2), page - 80) << page;  // not smaller than it needs to be
    }
    // A page too narrow for a legible title keeps the configured size rather than one of a pixel.
    EXPECT_GT(width_at(kLegibleTitleSize - 1), 200 - 80);
    EXPECT_EQ(fitted_title_size(title, 200, s), 24u);
    EXPECT_EQ(fitted_title_size(title, 80, s), 24u);  // no room at all
}

TEST(SourceLine, PositionAndEscapedText) {
    RenderSettings s;
    s.svg_viewbox_marginx = 40;
    s.svg_font_size_source = 30;  // 30 x 0.234 = 7.02: the baseline sits 7 above the bottom
    copy_text(s.svg_font_source, "IPAexGothic");
    SvgLayout layout;
    layout.viewbox_width = 2000;
    layout.viewbox_height = 1040;
    std::string escaped;
    append_xml_escaped(escaped, "x&y<z>");
    EXPECT_EQ(marks_of([&](Drawing& d) { add_source_line(d, escaped, layout, s); }),
              "<text x=\"1960\" y=\"1033\" text-anchor=\"end\" font-family=\"IPAexGothic,sans-serif\" "
              "font-size=\"30\">x&amp;y&lt;z&gt;</text>\r\n");
}

constexpr std::string_view kFffd = "\xEF\xBF\xBD";  // U+FFFD

std::string cat(std::initializer_list<std::string_view> parts) {
    std::string s;
    for (const std::string_view p : parts) s += p;
    return s;
}

std::string map_text(std::string_view in, bool may_end_cut = false) {
    std::string out;
    append_map_text(out, in, may_end_cut);
    return out;
}

std::string escaped(std::string_view in) {
    std::string out;
    append_xml_escaped(out, in);
    return out;
}

// Each text as a map text (references kept) and as plain text (every special character escaped).
TEST(SafeText, MapTextsAndPlainTexts) {
    struct Case {
        const char* what;
        std::string in, map, plain;
    };
    const Case cases[] = {
        {"empty", "", "", ""},
        {"Japanese", "千葉市稲毛区𠮷", "千葉市稲毛区𠮷", "千葉市稲毛区𠮷"},
        {"markup", "X</text><script>s()</script>", "X&lt;/text&gt;&lt;script&gt;s()&lt;/script&gt;",
         "X&lt;/text&gt;&lt;script&gt;s()&lt;/script&gt;"},
        {"quotes", "\"'", "\"'", "&quot;&apos;"},
        {"predefined entities", "&amp;&lt;&gt;&quot;&apos;", "&amp;&lt;&gt;&quot;&apos;",
         "&amp;amp;&amp;lt;&amp;gt;&amp;quot;&amp;apos;"},
        {"character references", "&#65;&#x41;&#x10FFFF;&#0009;&#xd;", "&#65;&#x41;&#x10FFFF;&#0009;&#xd;",
         "&amp;#65;&amp;#x41;&amp;#x10FFFF;&amp;#0009;&amp;#xd;"},
        {"no character 0", "&#0;", "&amp;#0;", "&amp;#0;"},
        {"no surrogate", "&#xD800;", "&amp;#xD800;", "&amp;#xD800;"},
        {"beyond Unicode", "&#x110000;&#99999999999999999999;", "&amp;#x110000;&amp;#99999999999999999999;",
         "&amp;#x110000;&amp;#99999999999999999999;"},
        {"no U+FFFE", "&#65534;", "&amp;#65534;", "&amp;#65534;"},
        {"capital X", "&#X41;", "&amp;#X41;", "&amp;#X41;"},
        {"empty numbers", "&#;&#x;", "&amp;#;&amp;#x;", "&amp;#;&amp;#x;"},
        {"undeclared entity", "1&nbsp;2", "1&amp;nbsp;2", "1&amp;nbsp;2"},
        {"lone ampersands", "a & b&", "a &amp; b&amp;", "a &amp; b&amp;"},
        {"unterminated reference", "&amp", "&amp;amp", "&amp;amp"},
        {"tab and line ends stay", "a\tb\nc\rd", "a\tb\nc\rd", "a\tb\nc\rd"},
        {"other controls go", "\x1B[31m\x01\x08\x0B\x0C\x1F|", "[31m|", "[31m|"},
        {"DEL and C1 controls stay", "\x7F\xC2\x85", "\x7F\xC2\x85", "\x7F\xC2\x85"},
        {"U+FFFE and U+FFFF go, U+FFFD stays", "a\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD", cat({"a", kFffd}),
         cat({"a", kFffd})},
        {"lone continuation",
         "a\x80"
         "b",
         cat({"a", kFffd, "b"}), cat({"a", kFffd, "b"})},
        {"truncated sequence",
         "\xE5\x88"
         "x\xE5\x88",
         cat({kFffd, "x", kFffd}), cat({kFffd, "x", kFffd})},
        {"overlong", "\xC0\xAF\xE0\x80\xAF", cat({kFffd, kFffd, kFffd, kFffd, kFffd}),
         cat({kFffd, kFffd, kFffd, kFffd, kFffd})},
        {"surrogate", "\xED\xA0\x80", cat({kFffd, kFffd, kFffd}), cat({kFffd, kFffd, kFffd})},
        {"beyond U+10FFFF and bad leads", "\xF4\x90\x80\x80\xF5\xFF", cat({kFffd, kFffd, kFffd, kFffd, kFffd, kFffd}),
         cat({kFffd, kFffd, kFffd, kFffd, kFffd, kFffd})},
        {"Shift_JIS", "\x92\x6E\x94\xD4", cat({kFffd, "n", kFffd, kFffd}), cat({kFffd, "n", kFffd, kFffd})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(map_text(c.in), c.map) << c.what;
        EXPECT_EQ(escaped(c.in), c.plain) << c.what;
        // The result is safe text already: it passes through unchanged.
        EXPECT_EQ(map_text(c.map), c.map) << c.what;
    }
    EXPECT_EQ(escaped(std::string(255, '&')).size(), 255u * 5);
}

// A reference that a full field's end cut off is left out; anything else is escaped as ever.
TEST(SafeText, ReferenceCutAtTheFieldEnd) {
    struct Case {
        std::string in;
        bool may_end_cut;
        std::string out;
    };
    const Case cases[] = {
        {"ab&am", true, "ab"},        {"ab&", true, "ab"},
        {"ab&#12", true, "ab"},       {"ab&#x1F", true, "ab"},
        {"ab&#", true, "ab"},         {"ab&amp;", true, "ab&amp;"},
        {"ab&x", true, "ab&amp;x"},   {"ab&#xZ", true, "ab&amp;#xZ"},
        {"&am x", true, "&amp;am x"}, {"ab&am", false, "ab&amp;am"},
    };
    for (const Case& c : cases) EXPECT_EQ(map_text(c.in, c.may_end_cut), c.out) << c.in;
    char full[8], shorter[8];
    copy_text(full, "abcd&am");
    copy_text(shorter, "abc&am");
    std::string out;
    append_map_field(out, full);
    append_map_field(out, shorter);
    EXPECT_EQ(out, "abcdabc&amp;am");
}

// Random mixes of the troublesome pieces, all in one document that xmllint must accept.
TEST(SafeText, RandomTextsAreWellFormed) {
    if (const std::string why = test::missing(test::Need::kHostTools); !why.empty()) GTEST_SKIP() << why;
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) GTEST_SKIP() << "xmllint is not installed";
    const std::string_view pieces[] = {"&",
                                       ";",
                                       "#",
                                       "x",
                                       "amp",
                                       "lt",
                                       "1",
                                       "F",
                                       "<",
                                       ">",
                                       "\"",
                                       "'",
                                       "]]",
                                       "\x1B",
                                       "\t",
                                       "\r\n",
                                       "\x80",
                                       "\xC3",
                                       "\xE5",
                                       "\x88",
                                       "\xED\xA0\x80",
                                       "\xEF\xBF\xBE",
                                       "\xF0\x9F",
                                       "字",
                                       "\xFF",
                                       std::string_view("\0", 1)};
    std::mt19937 random(12);
    std::string document = "<d>";
    for (int n = 0; n < 3000; ++n) {
        std::string text;
        for (auto k = random() % 12; k > 0; --k) text += pieces[random() % std::size(pieces)];
        const std::string map = map_text(text, n % 2 == 0);
        EXPECT_EQ(map_text(map), map) << text;
        // What the PDF draws is what the document says.
        EXPECT_EQ(escaped(plain_text_of(escaped(text))), escaped(text)) << text;
        document += "<m>" + map + "</m><p a=\"" + escaped(text) + "\">" + escaped(text) + "</p>\n";
    }
    document += "</d>";
    test::TempDir dir;
    const std::string path = dir.write("random.xml", document);
    EXPECT_EQ(std::system(("xmllint --noout '" + path + "'").c_str()), 0);
}

TEST(SourceWidth, ScaledToTheFontSizeAndTruncated) {
    EXPECT_EQ(source_width_from_extent({200, 20}, 14), 140);
    EXPECT_EQ(source_width_from_extent({101, 20}, 14), 70);  // 70.7
    EXPECT_EQ(source_width_from_extent({101, 0}, 14), 101);
    EXPECT_EQ(source_width_from_extent({0, 17}, 14), 0);
}

TEST(SourceWidth, MeasuredBeforeEscaping) {
    RenderSettings s;
    s.svg_font_size_source = 20;
    copy_text(s.svg_font_source, "DejaVu Sans");
    EXPECT_EQ(measure_source_text(s), 0);  // nothing to measure
    platform::TextExtent probe;
    if (!platform::measure_text("x", "DejaVu Sans", 20, probe)) GTEST_SKIP() << "no font available";
    EXPECT_GT(probe.advance, 0);
    EXPECT_GT(probe.ascent_plus_descent, 0);

    copy_text(s.svg_text_source, "abc&");
    const std::int32_t plain = measure_source_text(s);
    copy_text(s.svg_text_source, "abc&abc&");
    const std::int32_t twice = measure_source_text(s);
    copy_text(s.svg_text_source, "abc&amp;");
    const std::int32_t entity = measure_source_text(s);
    EXPECT_GT(plain, 0);
    EXPECT_NEAR(twice, 2 * plain, 2);
    EXPECT_GT(entity, plain + 10);
    // Doubling the font size doubles the width, within rounding.
    s.svg_font_size_source = 40;
    EXPECT_NEAR(measure_source_text(s), 2 * entity, 4);
    // An unknown face still measures, with the best match standing in.
    copy_text(s.svg_font_source, "No Such Face-Bold:x");
    EXPECT_GT(measure_source_text(s), 0);
}

}  // namespace
}  // namespace chizuvec
