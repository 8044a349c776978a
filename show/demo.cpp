#include "show/demo.h"

#include <cstddef>
#include <string>
#include <type_traits>

#include "platform/sound.h"
#include "render/frame_buffer.h"
#include "render/render_context.h"
#include "render/sgl.h"
#include "scenekit/captions.h"
#include "scenekit/noise.h"
#include "scenekit/state_record.h"
#include "scenes/ray_sphere_scene.h"
#include "scenes/runtime_rand.h"
#include "show/scene_registry.h"
#include "textmode/text_mode.h"

Demo vornakDemo;

Demo::Demo() = default;

Demo::~Demo() {
    shutdown();
    // A failed init leaves its Surfaces created but the Demo not initialised, which
    // shutdown does not touch; their memory goes with the Demo.
    for (auto* surface : {&colorSurface_, &depthSurface_, &stencilSurface_})
        if (*surface) (*surface)->release();
}

void Demo::attachSound(SoundSystem* sound) {
    sound_ = sound;
}

void Demo::setSceneFactories(const std::array<SceneFactory, DEMO_SCENE_COUNT>& factories) {
    customFactories_ = factories;
    factories_ = &customFactories_;
}

void Demo::setSoundEnabled(uint8_t flag) {
    if (!initialised_) soundEnabled_ = flag;
}

int Demo::init(const Size16& renderSize) {
    shutdown();
    failedSceneSlot_ = -1;
    // The generators the scenes share start afresh, so that every run in one
    // process (a server's next showing, a test's second run) draws the same show.
    noiseState = NOISE_INITIAL_STATE;
    runtimeRandState = RUNTIME_RAND_INITIAL_STATE;
    rayPhase = 0;

    buildCaptionSheets();

    renderSize_ = renderSize;
    if (!colorSurface_) {
        colorSurface_ = std::make_unique<Surface>();
        depthSurface_ = std::make_unique<Surface>();
        stencilSurface_ = std::make_unique<Surface>();
        frameBuffer_ = std::make_unique<FrameBuffer>();
    }
    colorSurface_->create(renderSize, 4);
    depthSurface_->create(renderSize, 4);
    stencilSurface_->create(renderSize, 1);

    frameBuffer_->init();
    frameBuffer_->attach(colorSurface_.get(), 1);
    frameBuffer_->attach(depthSurface_.get(), 2);
    frameBuffer_->attach(stencilSurface_.get(), 4);

    sglInit();
    sglBindFrameBuffer(frameBuffer_.get());

    if (soundEnabled_) {
        if (sound_ == nullptr || sound_->init(44100, 32, 0) != 1) return DEMO_ERR_SOUND_INIT;
        musicStream_ = sound_->openStream(DEMO_MUSIC_FILE);
        if (musicStream_ == nullptr) return DEMO_ERR_STREAM;
    }

    const auto& factories = factories_ != nullptr ? *factories_ : showSceneFactories();
    for (int slot = 0; slot < DEMO_SCENE_COUNT; ++slot) {
        scenes_[slot].reset(factories[slot](*this));
        if (scenes_[slot]->init() != 0) {
            failedSceneSlot_ = slot;
            return DEMO_ERR_SCENE;
        }
    }

    initialised_ = 1;
    started_ = 0;
    return 0;
}

uint8_t Demo::update(uint32_t now) {
    if (!started_) {
        startTick_ = now - scenes_[SLOT_CROSSES]->startTime(1);
        started_ = 1;
    }
    const uint32_t t = now - startTick_;
    lastDemoTime_ = t;

    Scene* chosen;
    uint32_t showingStart;
    if (t < scenes_[SLOT_SPHERE]->startTime(1)) {
        chosen = scenes_[SLOT_CROSSES].get();
        showingStart = chosen->startTime(1);
    } else if (t < scenes_[SLOT_METABALLS]->startTime(1)) {
        chosen = scenes_[SLOT_SPHERE].get();
        showingStart = chosen->startTime(1);
    } else if (t < scenes_[SLOT_CUBES]->startTime(1)) {
        chosen = scenes_[SLOT_METABALLS].get();
        showingStart = chosen->startTime(1);
    } else if (t < scenes_[SLOT_GLOW]->startTime(1)) {
        chosen = scenes_[SLOT_CUBES].get();
        showingStart = chosen->startTime(1);
    } else if (t < scenes_[SLOT_REPLAY]->startTime(1)) {
        chosen = scenes_[SLOT_GLOW].get();
        showingStart = chosen->startTime(1);
    } else if (t < scenes_[SLOT_METABALLS]->startTime(2)) {
        // Asking for the second showing switches the metaball scene over, every
        // frame from the replay on.
        chosen = scenes_[SLOT_REPLAY].get();
        showingStart = chosen->startTime(1);
    } else if (t < scenes_[SLOT_NOISE_TEXT]->startTime(1)) {
        chosen = scenes_[SLOT_METABALLS].get();
        showingStart = chosen->startTime(2);
    } else {
        chosen = scenes_[SLOT_NOISE_TEXT].get();
        showingStart = chosen->startTime(1);
    }
    chosen->render(t - showingStart);

    return t > DEMO_END_MS ? 0 : 1;
}

Surface* Demo::colorSurface() const {
    return initialised_ ? colorSurface_.get() : nullptr;
}

void Demo::shutdown() {
    if (!initialised_) return;
    if (soundEnabled_) {
        stopMusic();
        sound_->close(musicStream_);
        musicStream_ = nullptr;
        sound_->shutdown();
    }
    frameBuffer_->release();
    stencilSurface_->release();
    depthSurface_->release();
    colorSurface_->release();
    initialised_ = 0;
}

void Demo::startMusic() {
    if (soundEnabled_ && sound_ != nullptr) sound_->play(musicStream_);
}

void Demo::stopMusic() {
    if (soundEnabled_ && sound_ != nullptr) sound_->stop(musicStream_);
}

namespace {
constexpr uint64_t MUSIC_RATE = 44100;
}

void Demo::seekMusic(uint32_t ms) {
    if (soundEnabled_ && sound_ != nullptr && musicStream_ != nullptr)
        sound_->seek(musicStream_, uint64_t(ms) * MUSIC_RATE / 1000);
}

void Demo::pauseMusic(bool paused) {
    if (soundEnabled_ && sound_ != nullptr && musicStream_ != nullptr)
        sound_->setPaused(musicStream_, paused);
}

void Demo::setMusicVolume(int percent) {
    if (soundEnabled_ && sound_ != nullptr) sound_->setVolume(percent);
}

int64_t Demo::heardMusicMs() const {
    if (!soundEnabled_ || sound_ == nullptr || musicStream_ == nullptr) return -1;
    const int64_t frame = sound_->heardFrame(musicStream_);
    return frame < 0 ? -1 : frame * 1000 / int64_t(MUSIC_RATE);
}

void Demo::keepState(StateRecord& record) {
    if (!initialised_) return;
    record.keep(started_);
    record.keep(startTick_);
    record.keep(lastDemoTime_);
    // The renderer's state but its fragment tables, which sglInit builds and
    // nothing changes while the show runs (a quarter of a megabyte), and its
    // span buffers, scratch of each span.
    static_assert(std::is_standard_layout_v<RenderContext>);
    static_assert(offsetof(RenderContext, tables) < offsetof(RenderContext, spans));
    auto* context = reinterpret_cast<uint8_t*>(&renderContext);
    constexpr size_t TABLES_END = offsetof(RenderContext, tables) + sizeof(FragmentTables);
    record.keepBytes(context, offsetof(RenderContext, tables));
    record.keepBytes(context + TABLES_END, offsetof(RenderContext, spans) - TABLES_END);
    for (Surface* surface : {colorSurface_.get(), depthSurface_.get(), stencilSurface_.get()})
        record.keepBytes(surface->pixels(),
                         size_t(surface->pitch()) * size_t(uint16_t(surface->height())));
    record.keep(noiseState);
    record.keep(runtimeRandState);
    uint8_t mode = textMode();
    record.keep(mode);
    if (!record.saving()) setTextMode(mode);
    for (const auto& scene : scenes_) scene->keepState(record);
}

const char* Demo::problem() const {
    // One line per problem; a scene that failed is the cause of the failure and
    // comes first, the sound layer's lines (its own cause, or notes) follow.
    const char* sound = soundEnabled_ && sound_ != nullptr ? sound_->problem() : "";
    if (failedSceneSlot_ < 0) return sound;
    problem_ = "Scene " + std::to_string(failedSceneSlot_ + 1) + " of " +
               std::to_string(DEMO_SCENE_COUNT) + " could not be set up";
    if (sound[0] != 0) problem_ += std::string("\n") + sound;
    return problem_.c_str();
}
