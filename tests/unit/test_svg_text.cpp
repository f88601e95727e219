#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "common/fixed_text.hpp"
#include "platform/platform.hpp"
#include "render/svg_text.hpp"

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
    EXPECT_EQ(written([&](SvgOutput& o) { write_title(o, "/maps/12103-0400-76.zip", "", h, s); }),
              prefix + "12103-0400-76.zip&quot;　＜公共座標9系＞</text>\r\n");
    EXPECT_EQ(written([&](SvgOutput& o) { write_title(o, "12103.xml", "12", h, s); }),
              prefix + "12103.xml&quot;　（12）　＜公共座標9系＞</text>\r\n");
    EXPECT_EQ(written([&](SvgOutput& o) { write_title(o, "d/<a&'b\">.xml", "", h, s); }),
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

    EXPECT_EQ(written([&](SvgOutput& o) { write_scale_bar(o, bar, layout, "公共座標9系", s); }),
              "<path d=\"M40,976v+60h400v-60\" stroke=\"#000000\" stroke-width=\"4\" fill=\"none\"/>\r\n"
              "<text x=\"240\" y=\"1026\" text-anchor=\"middle\" font-family=\"Arial,sans-serif\" font-size=\"60\">"
              "100 m</text>\r\n");

    s.svg_viewbox_marginy = 30;
    bar = compute_scale_bar(layout, s, 100000);
    EXPECT_EQ(bar.bar_height, 30);
    EXPECT_EQ(bar.bar_lift, 30);
    EXPECT_EQ(written([&](SvgOutput& o) { write_scale_bar(o, bar, layout, "任意座標系", s); }),
              "<path d=\"M40,980v+30h400v-30\" stroke=\"#000000\" stroke-width=\"4\" fill=\"none\"/>\r\n"
              "<text x=\"240\" y=\"1000\" text-anchor=\"middle\" font-family=\"Arial,sans-serif\" font-size=\"30\">"
              "100</text>\r\n");
    for (const char* other : {"", "任意座標", "任意座標系 "}) {
        EXPECT_NE(written([&](SvgOutput& o) { write_scale_bar(o, bar, layout, other, s); }).find(">100 m</text>"),
                  std::string::npos)
            << other;
    }
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
    EXPECT_EQ(written([&](SvgOutput& o) { write_source_line(o, escaped, layout, s); }),
              "<text x=\"1960\" y=\"1033\" text-anchor=\"end\" font-family=\"IPAexGothic,sans-serif\" "
              "font-size=\"30\">x&amp;y&lt;z&gt;</text>\r\n");
}

TEST(Escaping, UnlimitedEscapeNeverCuts) {
    struct Case {
        std::string_view in, out;
    };
    const Case cases[] = {
        {"", ""},
        {"x&y<z>", "x&amp;y&lt;z&gt;"},
        {"&amp;", "&amp;amp;"},
        {"\"'", "&quot;&apos;"},
        {"出典：法務省", "出典：法務省"},
    };
    for (const Case& c : cases) {
        std::string out;
        append_xml_escaped(out, c.in);
        EXPECT_EQ(out, c.out);
    }
    std::string out;
    append_xml_escaped(out, std::string(255, '&'));
    EXPECT_EQ(out.size(), 255u * 5);
}

// replace_char on a buffer of `size` bytes framed by guard bytes that must survive.
std::string replaced(std::string_view text, std::size_t size, char byte, std::string_view replacement) {
    std::vector<char> memory(size + 8, '#');
    char* buffer = memory.data() + 4;
    std::memcpy(buffer, text.data(), std::min(text.size() + 1, size));
    replace_char(buffer, size, byte, replacement);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(memory[i], '#');
        EXPECT_EQ(memory[size + 4 + i], '#');
    }
    EXPECT_NE(std::memchr(buffer, '\0', size), nullptr);
    return std::string(buffer);
}

TEST(Escaping, ReplaceCharStaysInsideItsBuffer) {
    struct Case {
        const char* what;
        std::string_view text;
        std::size_t size;
        char byte;
        std::string_view replacement;
        std::string_view expected;
    };
    const Case cases[] = {
        {"every occurrence", "a&b&c", 256, '&', "&amp;", "a&amp;b&amp;c"},
        {"inserted text is not searched again", "&&", 256, '&', "&amp;", "&amp;&amp;"},
        {"empty replacement does nothing", "a&b", 256, '&', "", "a&b"},
        {"a one-byte replacement", "a<b", 256, '<', "(", "a(b"},
        {"exact fit", "a&b", 8, '&', "&amp;", "a&amp;b"},
        {"tail cut at the end", "a&bcdefgh", 10, '&', "&amp;", "a&amp;bcd"},
        {"entity that would pass the end is dropped", "abcdef&", 10, '&', "&amp;", "abcdef"},
        {"entity ending on the last text byte stays", "abcd&", 10, '&', "&amp;", "abcd&amp;"},
        {"no half character in the tail", "a&bあい", 10, '&', "&amp;", "a&amp;b"},
        {"no half entity in the tail", "<x&amp;", 10, '<', "&lt;", "&lt;x"},
        {"unterminated text is terminated", "abcdefghij", 4, '&', "&amp;", "abc"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(replaced(c.text, c.size, c.byte, c.replacement), c.expected) << c.what;
    }
}

TEST(Escaping, FiveReplacementsInOrderOnTheSourceField) {
    char field[256] = {};
    copy_text(field, "x&y<z> \"q\" 'a' &amp;");
    replace_char(field, sizeof field, '&', "&amp;");
    replace_char(field, sizeof field, '<', "&lt;");
    replace_char(field, sizeof field, '>', "&gt;");
    replace_char(field, sizeof field, '"', "&quot;");
    replace_char(field, sizeof field, '\'', "&apos;");
    EXPECT_STREQ(field, "x&amp;y&lt;z&gt; &quot;q&quot; &apos;a&apos; &amp;amp;");
    // A full field of ampersands: only whole entities remain.
    std::memset(field, '&', 255);
    field[255] = '\0';
    replace_char(field, sizeof field, '&', "&amp;");
    EXPECT_EQ(std::strlen(field), 255u);
    EXPECT_EQ(std::string_view(field).substr(250), "&amp;");
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
