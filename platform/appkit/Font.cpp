#include "platform/appkit/Font.h"

#include <fontconfig/fontconfig.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>

#include "platform/appkit/TextInternal.h"
#include "platform/core/NoDestructor.h"

namespace ak {

namespace {

struct FaceInfo {
  std::string family;
  std::string postScriptName;
  int weight = PANGO_WEIGHT_NORMAL;
  PangoStyle style = PANGO_STYLE_NORMAL;
};

std::string patternString(FcPattern* p, const char* key) {
  FcChar8* value = nullptr;
  return FcPatternGetString(p, key, 0, &value) == FcResultMatch && value
             ? reinterpret_cast<const char*>(value)
             : "";
}

FaceInfo infoOf(FcPattern* p) {
  FaceInfo info;
  info.family = patternString(p, FC_FAMILY);
  info.postScriptName = patternString(p, FC_POSTSCRIPT_NAME);
  double weight = FC_WEIGHT_REGULAR;
  if (FcPatternGetDouble(p, FC_WEIGHT, 0, &weight) != FcResultMatch) {
    int w = FC_WEIGHT_REGULAR;
    if (FcPatternGetInteger(p, FC_WEIGHT, 0, &w) == FcResultMatch) weight = w;
  }
  info.weight = int(FcWeightToOpenTypeDouble(weight));
  int slant = FC_SLANT_ROMAN;
  FcPatternGetInteger(p, FC_SLANT, 0, &slant);
  info.style = slant == FC_SLANT_ITALIC    ? PANGO_STYLE_ITALIC
               : slant == FC_SLANT_OBLIQUE ? PANGO_STYLE_OBLIQUE
                                           : PANGO_STYLE_NORMAL;
  return info;
}

// Only installed faces: fontconfig's listing never substitutes, unlike its matching.
std::optional<FaceInfo> findFace(const std::string& name) {
  FcObjectSet* objects =
      FcObjectSetBuild(FC_FAMILY, FC_STYLE, FC_WEIGHT, FC_SLANT, FC_POSTSCRIPT_NAME, nullptr);
  std::optional<FaceInfo> found;
  for (const char* key : {FC_POSTSCRIPT_NAME, FC_FULLNAME, FC_FAMILY}) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, key, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcFontSet* set = FcFontList(nullptr, pattern, objects);
    FcPatternDestroy(pattern);
    if (set && set->nfont > 0) {
      // For a family, its regular upright face; otherwise the named face itself.
      int best = 0;
      double bestScore = 1e9;
      for (int i = 0; i < set->nfont; ++i) {
        FaceInfo info = infoOf(set->fonts[i]);
        double score = std::abs(info.weight - 400) + (info.style == PANGO_STYLE_NORMAL ? 0 : 1000);
        if (score < bestScore) bestScore = score, best = i;
      }
      found = infoOf(set->fonts[best]);
    }
    if (set) FcFontSetDestroy(set);
    if (found) break;
  }
  FcObjectSetDestroy(objects);
  return found;
}

std::optional<FaceInfo> cachedFace(const std::string& name) {
  struct Cache {
    std::mutex mutex;
    std::map<std::string, std::optional<FaceInfo>> faces;
  };
  static ns::NoDestructor<Cache> cache;
  {
    std::lock_guard<std::mutex> lock(cache->mutex);
    auto it = cache->faces.find(name);
    if (it != cache->faces.end()) return it->second;
  }
  auto face = findFace(name);
  std::lock_guard<std::mutex> lock(cache->mutex);
  cache->faces.emplace(name, face);
  return face;
}

double usableSize(double size) {
  if (!(size > 0)) return 12;
  return std::min(size, 4096.0);
}

ns::Ref<Font> makeFont(const std::string& family, int weight, PangoStyle style, std::string name,
                       double size) {
  PangoFontDescription* desc = pango_font_description_new();
  pango_font_description_set_family(desc, family.c_str());
  pango_font_description_set_weight(desc, PangoWeight(weight));
  pango_font_description_set_style(desc, style);
  pango_font_description_set_absolute_size(desc, size * PANGO_SCALE);
  return ns::make<Font>(std::make_unique<Font::Face>(desc), std::move(name), size);
}

ns::Ref<Font> systemFace(bool bold, double size) {
  size = usableSize(size);
  auto info = cachedFace(bold ? "DejaVuSans-Bold" : "DejaVuSans");
  std::string name = info ? info->postScriptName : (bold ? "DejaVuSans-Bold" : "DejaVuSans");
  return makeFont(kSystemFontFamily, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL, PANGO_STYLE_NORMAL, name,
                  size);
}

struct ThreadPango {
  ThreadPango() {
    map = pango_cairo_font_map_new();
    context = pango_font_map_create_context(map);
    pango_cairo_context_set_resolution(context, 72);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(context, FALSE);
  }
  ~ThreadPango() {
    g_object_unref(context);
    g_object_unref(map);
  }
  PangoFontMap* map;
  PangoContext* context;
};

}  // namespace

// The leak checker of sanitizer builds is told to expect what two system libraries lose and no
// code of ours can free: fontconfig a few bytes, once per process, while it parses its
// configuration; libsrt (loaded with the media engine's libraries, never called by us) now and
// then a small block by the process's end.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libsrt-gnutls.so\n";
}

// The thread checker of sanitizer builds sees neither glib's futex-based locks nor the atomics
// of the uninstrumented drawing libraries: pango matches fonts on a helper thread of its own,
// glib's slice allocator and cairo's object pools move memory between threads, and harfbuzz
// writes to a shared scratch area on purpose.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libpangoft2-1.0.so\n"
         "race:libfontconfig.so\n"
         "race:g_slice_*\n"
         "race:libharfbuzz.so\n"
         "race:libcairo.so\n"
         "race:libpixman-1.so\n";
}

PangoContext* threadPangoContext() {
  thread_local ThreadPango pango;
  return pango.context;
}

const ns::Ref<Font>& defaultTextFont() {
  static const ns::NoDestructor<ns::Ref<Font>> font(systemFace(false, 12));
  return *font;
}

Font::Font(std::unique_ptr<Face> face, std::string name, double size)
    : face_(std::move(face)), name_(std::move(name)), size_(size) {}

Font::~Font() = default;

ns::Ref<Font> Font::fontWithName_size(const std::string& name, double size) {
  if (name.empty() || std::isnan(size)) return nullptr;
  auto info = cachedFace(name);
  if (!info) return nullptr;
  return makeFont(info->family, info->weight, info->style,
                  info->postScriptName.empty() ? name : info->postScriptName, usableSize(size));
}

ns::Ref<Font> Font::systemFontOfSize(double size) {
  return systemFace(false, size);
}
ns::Ref<Font> Font::boldSystemFontOfSize(double size) {
  return systemFace(true, size);
}
ns::Ref<Font> Font::titleBarFontOfSize(double size) {
  return systemFace(false, size);
}
ns::Ref<Font> Font::labelFontOfSize(double size) {
  return systemFace(false, size);
}
ns::Ref<Font> Font::userFontOfSize(double size) {
  return systemFace(false, size);
}

double Font::systemFontSizeForControlSize(ControlSize size) {
  switch (size) {
    case ControlSize::Regular:
      return 13;
    case ControlSize::Small:
      return 11;
    case ControlSize::Mini:
      return 9;
  }
  return 13;
}

std::string Font::familyName() const {
  const char* family = pango_font_description_get_family(face_->desc);
  return family ? family : "";
}

std::string Font::displayName() const {
  std::string name = familyName();
  if (isBold()) name += " Bold";
  return name;
}

bool Font::isBold() const {
  return pango_font_description_get_weight(face_->desc) >= PANGO_WEIGHT_BOLD;
}

double Font::ascender() const {
  PangoFontMetrics* metrics = pango_context_get_metrics(threadPangoContext(), face_->desc, nullptr);
  double value = pango_font_metrics_get_ascent(metrics) / double(PANGO_SCALE);
  pango_font_metrics_unref(metrics);
  return value;
}

double Font::descender() const {
  PangoFontMetrics* metrics = pango_context_get_metrics(threadPangoContext(), face_->desc, nullptr);
  double value = -pango_font_metrics_get_descent(metrics) / double(PANGO_SCALE);
  pango_font_metrics_unref(metrics);
  return value;
}

bool Font::isEqual(const ns::Object* other) const {
  auto* f = dynamic_cast<const Font*>(other);
  return f && f->name_ == name_ && f->size_ == size_ &&
         pango_font_description_equal(f->face_->desc, face_->desc);
}

std::size_t Font::hash() const {
  return std::hash<std::string>()(name_) ^ std::hash<double>()(size_);
}

std::string Font::description() const {
  char buf[160];
  std::snprintf(buf, sizeof buf, "\"%s %gpt.\"", name_.c_str(), size_);
  return buf;
}

}  // namespace ak
