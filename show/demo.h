// The Demo: owns everything that lives for the whole show (render Surfaces,
// FrameBuffer, caption sheets, scenes, music stream), picks the scene for each
// moment of the timeline from the clock readings it is given, and starts and
// stops the music.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "image/surface.h"
#include "scenekit/scene.h"

class FrameBuffer;
class SoundStream;
class SoundSystem;
class StateRecord;

constexpr uint32_t DEMO_END_MS = 173000;

constexpr int DEMO_ERR_SCENE = 0x10000;
constexpr int DEMO_ERR_SOUND_INIT = 0x10001;
constexpr int DEMO_ERR_STREAM = 0x10002;

constexpr const char* DEMO_MUSIC_FILE = "vornak.ogg";

class Demo final : public SceneSet {
  public:
    Demo();
    ~Demo();
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

    // The sound layer that plays the music; set before init.
    void attachSound(SoundSystem* sound);
    // Replaces the scene constructors (tests); set before init.
    void setSceneFactories(const std::array<SceneFactory, DEMO_SCENE_COUNT>& factories);

    void setSoundEnabled(uint8_t flag);
    int init(const Size16& renderSize);
    // Renders the frame of clock reading `now` (milliseconds, wrapping at 2^32); the
    // first call's reading is the show's first moment. Answers 0 once the timeline
    // has ended, otherwise 1.
    uint8_t update(uint32_t now);
    Surface* colorSurface() const;
    void shutdown();
    // Plays the music from its start; called right before the first frame's clock
    // reading, so that picture and sound begin together.
    void startMusic();
    void stopMusic();
    // The player's hold on the music: playing from demo time `ms` on, paused or
    // going on, its loudness (0..100 percent) and the demo time heard now (-1
    // while no music is heard).
    void seekMusic(uint32_t ms);
    void pauseMusic(bool paused);
    void setMusicVolume(int percent);
    int64_t heardMusicMs() const;

    Scene* scene(DemoSceneSlot slot) const override { return scenes_[slot].get(); }
    bool initialised() const { return initialised_ != 0; }
    bool soundEnabled() const { return soundEnabled_ != 0; }
    // Demo time of the last frame rendered by update.
    uint32_t demoTime() const { return lastDemoTime_; }
    // Saves or restores everything a frame leaves for the frames after it: the
    // scenes' animated values, the renderer's state and buffers, the shared
    // noise and random generators and the text mode. Between frames, once
    // initialised; a record is restored into the Demo that saved it.
    void keepState(StateRecord& record);
    // Why init failed, or a notice about the sound output; "" when there is nothing to say.
    const char* problem() const;

  private:
    uint8_t initialised_ = 0;
    uint8_t started_ = 0;
    uint8_t soundEnabled_ = 0;
    SoundStream* musicStream_ = nullptr;
    // Owned for the whole run; freed only when the Demo itself goes (at exit).
    std::unique_ptr<FrameBuffer> frameBuffer_;
    std::unique_ptr<Surface> colorSurface_;
    std::unique_ptr<Surface> depthSurface_;
    std::unique_ptr<Surface> stencilSurface_;
    Size16 renderSize_{};
    uint32_t startTick_ = 0;
    std::unique_ptr<Scene> scenes_[DEMO_SCENE_COUNT];

    SoundSystem* sound_ = nullptr;
    const std::array<SceneFactory, DEMO_SCENE_COUNT>* factories_ = nullptr;
    std::array<SceneFactory, DEMO_SCENE_COUNT> customFactories_{};
    uint32_t lastDemoTime_ = 0;
    int failedSceneSlot_ = -1;     // the scene whose init failed, for problem()
    mutable std::string problem_;  // problem()'s lines when a scene failed
};

// The one Demo of the program.
extern Demo vornakDemo;
