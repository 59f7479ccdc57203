// The display of display.h on a web page: the page's canvas (Module.canvas),
// drawn without SDL, so that no pixel of the frame passes through JavaScript.
//
// Through WebGL the frame's words are uploaded as they lie in memory, bytes
// B, G, R, 0, as an RGBA texture; the shader swaps red and blue back and
// scales by nearest texel into whatever size the canvas's store has. Where
// WebGL is missing, the frame is turned into RGBA bytes here and handed to a
// 2D canvas, through a second canvas when the store is not the frame's size.
// Either way each byte reaches the canvas unchanged.
#include "platform/display.h"

#include "platform/files.h"

#include <emscripten.h>

#include <cstdio>
#include <cstdlib>

enum class Surface { None, Canvas2d, WebGl };

struct Display {
    Surface surface;
    uint32_t* rgba; // the 2D canvas's bytes, R, G, B, 255
};

// Which surface the canvas gave: WebGL where it has it, else a 2D canvas.
EM_JS(int, OpenCanvas, (), {
    const canvas = Module.canvas;
    const options = {alpha : false, antialias : false, depth : false, stencil : false};
    const gl = Module.force2d ? null : canvas.getContext("webgl2", options) || canvas.getContext("webgl", options);
    if (!gl) {
        const context = canvas.getContext("2d", {alpha : false});
        if (!context) return 0;
        Module.screen = {context : context, stage : document.createElement("canvas")};
        Module.screen.stage.width = 640;
        Module.screen.stage.height = 480;
        return 1;
    }
    const shader = (type, source) => {
        const made = gl.createShader(type);
        gl.shaderSource(made, source);
        gl.compileShader(made);
        gl.attachShader(program, made);
    };
    const program = gl.createProgram();
    // One triangle over the whole canvas; row 0 of the frame at its top.
    shader(gl.VERTEX_SHADER, "attribute vec2 p; varying highp vec2 t; void main() {" +
                                 " t = vec2(p.x + 1.0, 1.0 - p.y) * 0.5; gl_Position = vec4(p, 0.0, 1.0); }");
    shader(gl.FRAGMENT_SHADER, "uniform sampler2D f; varying highp vec2 t; void main() {" +
                                   " gl_FragColor = vec4(texture2D(f, t).bgr, 1.0); }");
    gl.bindAttribLocation(program, 0, "p");
    gl.linkProgram(program);
    if (!gl.getProgramParameter(program, gl.LINK_STATUS)) return 0;
    gl.useProgram(program);
    gl.bindBuffer(gl.ARRAY_BUFFER, gl.createBuffer());
    gl.bufferData(gl.ARRAY_BUFFER, new Float32Array([ -1, -1, 3, -1, -1, 3 ]), gl.STATIC_DRAW);
    gl.enableVertexAttribArray(0);
    gl.vertexAttribPointer(0, 2, gl.FLOAT, false, 0, 0);
    gl.bindTexture(gl.TEXTURE_2D, gl.createTexture());
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
    gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA, 640, 480, 0, gl.RGBA, gl.UNSIGNED_BYTE, null);
    Module.screen = {gl : gl};
    return 2;
});

// The frame's packed words, as the texture.
EM_JS(void, DrawWords, (const uint32_t* words, int width, int height), {
    const gl = Module.screen.gl;
    gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE,
                     HEAPU8.subarray(words, words + width * height * 4));
    gl.viewport(0, 0, gl.drawingBufferWidth, gl.drawingBufferHeight);
    gl.drawArrays(gl.TRIANGLES, 0, 3);
});

// RGBA bytes, onto the 2D canvas, by whole pixels where it is larger.
EM_JS(void, DrawRgba, (const uint32_t* rgba, int width, int height), {
    const screen = Module.screen;
    // The memory may have grown since: a view of the old one is empty.
    if (!screen.image || screen.image.data.buffer !== HEAPU8.buffer || screen.at !== rgba) {
        const bytes = new Uint8ClampedArray(HEAPU8.buffer, rgba, width * height * 4);
        screen.image = new ImageData(bytes, width, height);
        screen.at = rgba;
    }
    const canvas = screen.context.canvas;
    if (canvas.width === width && canvas.height === height)
        return screen.context.putImageData(screen.image, 0, 0);
    screen.stage.getContext("2d").putImageData(screen.image, 0, 0);
    screen.context.imageSmoothingEnabled = false;
    screen.context.drawImage(screen.stage, 0, 0, canvas.width, canvas.height);
});

Display* OpenDisplay(bool, bool, const char*) {
    auto* display = static_cast<Display*>(std::calloc(1, sizeof(Display)));
    if (!display) return nullptr;
    display->surface = static_cast<Surface>(OpenCanvas());
    if (display->surface == Surface::Canvas2d)
        display->rgba = static_cast<uint32_t*>(std::calloc(FrameWidth * FrameHeight, 4));
    if (display->surface == Surface::None ||
        (display->surface == Surface::Canvas2d && !display->rgba)) {
        std::fprintf(stderr, "%s: cannot draw on the page: no WebGL and no 2D canvas\n",
                     ProgramName);
        std::free(display);
        return nullptr;
    }
    return display;
}

void CloseDisplay(Display* display) {
    if (!display) return;
    std::free(display->rgba);
    std::free(display);
}

// The frame keeps its own words: neither surface takes them as they are drawn.
void LendPixels(Display*, Frame*) {}

void HidePointer(Display*) {}

// Bytes B, G, R, 0 to R, G, B, 255; the compiler makes it vector code.
static void ConvertToRgba(uint32_t* to, const Frame* frame) {
    for (int y = 0; y < FrameHeight; ++y) {
        const uint32_t* from = frame->pixels + y * (frame->bytesPerRow / 4);
        uint32_t* out = to + y * FrameWidth;
        for (int x = 0; x < FrameWidth; ++x) {
            uint32_t word = from[x];
            out[x] = (word >> 16 & 0xFF) | (word & 0xFF00) | (word & 0xFF) << 16 | 0xFF000000u;
        }
    }
}

void ShowFrame(Display* display, Frame* frame) {
    // The page's frame has packed rows: it is never lent other pixels.
    if (display->surface == Surface::WebGl) return DrawWords(frame->pixels, FrameWidth, FrameHeight);
    ConvertToRgba(display->rgba, frame);
    DrawRgba(display->rgba, FrameWidth, FrameHeight);
}

// The page is paced by its animation frames, whatever the display's rate.
int RefreshRate(Display*) {
    return 0;
}

// The page takes its keys itself (page.js).
bool TakeEvents(Display*) {
    return false;
}
