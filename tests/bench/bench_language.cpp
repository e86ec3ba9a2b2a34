// Language files: opening build/bin/ZoVeva.lcf and translating the settings window, as a preview of
// another language does on every choice (target: well under 2 ms), and a resource string's look-up.

#include "BenchApp.h"
#include "platform/ResStrings.h"
#include "skin/skcont.h"
#include "station/LcUnit.h"
#include "station/LcWidgets.h"
#include "station/U_Config.h"

#include <QApplication>
#include <QComboBox>
#include <benchmark/benchmark.h>

namespace {

const std::filesystem::path kFile = ZOVEVA_LANGUAGE_FILE;

// English and Spanish in turn, so every round changes every text of the window.
void BM_LanguageOpenAndTranslateSettings(benchmark::State& state)
{
    if (!HaveWidgetApplication()) {
        state.SkipWithError("no widgets");
        return;
    }
    zv::RegisterWidgetProps();
    TSkBitmapList faces;
    QComboBox languages;
    TFrm_Config config(faces, languages);
    std::uint32_t lcid = 1033;
    for (auto _ : state) {
        if (OpenLanguage(kFile, lcid) != olOpened) {
            state.SkipWithError("build/bin/ZoVeva.lcf lacks English or Spanish");
            break;
        }
        TranslateForm(config);
        lcid = lcid == 1033 ? 3082 : 1033;
    }
    CloseLanguage();
}
BENCHMARK(BM_LanguageOpenAndTranslateSettings)->Unit(benchmark::kMicrosecond);

void BM_LanguageOpen(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(OpenLanguage(kFile, 3082));
    }
    CloseLanguage();
}
BENCHMARK(BM_LanguageOpen)->Unit(benchmark::kMicrosecond);

void BM_LanguageResString(benchmark::State& state)
{
    OpenLanguage(kFile, 3082);
    for (auto _ : state) {
        benchmark::DoNotOptimize(zv::LoadResString(zv::SPropertyWhileOpen));
    }
    CloseLanguage();
}
BENCHMARK(BM_LanguageResString);

} // namespace
