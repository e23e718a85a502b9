// Fitting the window's template to larger toolkit controls, without a display: the window's
// own template at 2 pixels per dialog unit, against controls that need more room than it
// gives them (a long device name, large fonts).
#include "template_fit.h"

#include <gtest/gtest.h>

namespace {

wxRect Du(int x, int y, int width, int height) {
    return {2 * x, 2 * y, 2 * width, 2 * height};
}

enum Index {
    kStart,
    kDevice,
    kDeviceLabel,
    kOutputLabel,
    kOutput,
    kBrowse,
    kBitRate,
    kBitRateLabel,
    kWebsite
};

std::vector<TemplateControl> Template(int grow) {
    return {
        {Du(98, 48, 70, 16), {140 + grow, 32 + grow}, TemplateKind::Control},
        {Du(42, 15, 259, 30), {700, 24 + grow}, TemplateKind::List},
        {Du(16, 17, 23, 8), {46 + grow, 16 + grow}, TemplateKind::Label},
        {Du(11, 34, 28, 8), {56 + grow, 16 + grow}, TemplateKind::Label},
        {Du(42, 32, 207, 12), {900, 24 + grow}, TemplateKind::TextBox},
        {Du(253, 32, 48, 13), {96 + grow, 26 + grow}, TemplateKind::Control},
        {Du(42, 50, 48, 12), {96 + grow, 24 + grow}, TemplateKind::List},
        {Du(8, 52, 30, 8), {60 + grow, 16 + grow}, TemplateKind::Label},
        {Du(171, 49, 57, 15), {114 + grow, 30 + grow}, TemplateKind::Control},
    };
}

const TemplateMetrics kMetrics{12, {4, 4}, {14, 14}, {640, 166}};

TEST(TemplateFitTest, GrownControlsNeitherOverlapNorLeaveTheWindow) {
    for (int grow : {0, 10, 40}) {
        SCOPED_TRACE("grown by " + std::to_string(grow));
        const std::vector<TemplateControl> controls = Template(grow);
        const TemplateFit fit = FitTemplate(controls, kMetrics);
        ASSERT_EQ(fit.rects.size(), controls.size());
        EXPECT_GE(fit.client.x, kMetrics.client.x);
        EXPECT_GE(fit.client.y, kMetrics.client.y);
        const wxRect inside(kMetrics.edge.x, kMetrics.edge.y, fit.client.x - 2 * kMetrics.edge.x,
                            fit.client.y - 2 * kMetrics.edge.y);
        for (size_t i = 0; i < controls.size(); ++i) {
            SCOPED_TRACE("control " + std::to_string(i));
            const wxRect& rect = fit.rects[i];
            EXPECT_TRUE(inside.Contains(rect));
            EXPECT_GE(rect.height, controls[i].natural.y);
            if (controls[i].kind == TemplateKind::TextBox) {
                EXPECT_EQ(rect.width, controls[i].tmpl.width) << "a long path scrolls instead";
            } else {
                EXPECT_GE(rect.width, controls[i].natural.x);
            }
            for (size_t j = i + 1; j < controls.size(); ++j) {
                EXPECT_FALSE(rect.Intersects(fit.rects[j])) << "overlaps control " << j;
            }
        }
        // A drop-down list is as high as it is closed, not as its dropped template.
        EXPECT_EQ(fit.rects[kDevice].height, controls[kDevice].natural.y);
        // Each label ends left of its field and is centred on it, within a pixel.
        for (const auto& [label, field] :
             {std::pair{kDeviceLabel, kDevice}, {kOutputLabel, kOutput}, {kBitRateLabel, kBitRate}}) {
            const wxRect& l = fit.rects[label];
            const wxRect& f = fit.rects[field];
            EXPECT_LT(l.GetRight(), f.x);
            EXPECT_NEAR(l.y + l.height / 2.0, f.y + f.height / 2.0, 1.0);
        }
    }
}

}  // namespace
