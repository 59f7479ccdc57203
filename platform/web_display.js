// The JavaScript half of web_display.cpp: the page's canvas, drawn through
// WebGL where the browser has it, else through a 2D canvas. Its state is
// Module.screen.
mergeInto(LibraryManager.library, {
  // 2 for WebGL, 1 for a 2D canvas, 0 when the canvas takes neither.
  OpenCanvas__deps: ["$webGlInSoftware"],
  OpenCanvas: function () {
    const canvas = Module.canvas;
    const options = { alpha: false, antialias: false, depth: false, stencil: false };
    const gl = webGlInSoftware() ? null :
      canvas.getContext("webgl2", options) || canvas.getContext("webgl", options);
    if (!gl) {
      const context = canvas.getContext("2d", { alpha: false });
      if (!context) return 0;
      const stage = document.createElement("canvas");
      stage.width = 640;
      stage.height = 480;
      Module.screen = { context: context, stage: stage, image: null };
      return 1;
    }
    const program = gl.createProgram();
    const shader = (type, source) => {
      const made = gl.createShader(type);
      gl.shaderSource(made, source);
      gl.compileShader(made);
      gl.attachShader(program, made);
    };
    // One triangle over the whole canvas, row 0 of the frame at its top; the
    // texel's bytes B, G, R, 0 of a frame word shown as red, green, blue.
    shader(gl.VERTEX_SHADER, "attribute vec2 p; varying highp vec2 t; void main() {" +
      " t = vec2(p.x + 1.0, 1.0 - p.y) * 0.5; gl_Position = vec4(p, 0.0, 1.0); }");
    shader(gl.FRAGMENT_SHADER, "uniform sampler2D f; varying highp vec2 t; void main() {" +
      " gl_FragColor = vec4(texture2D(f, t).bgr, 1.0); }");
    gl.bindAttribLocation(program, 0, "p");
    gl.linkProgram(program);
    if (!gl.getProgramParameter(program, gl.LINK_STATUS)) return 0;
    gl.useProgram(program);
    gl.bindBuffer(gl.ARRAY_BUFFER, gl.createBuffer());
    gl.bufferData(gl.ARRAY_BUFFER, new Float32Array([-1, -1, 3, -1, -1, 3]), gl.STATIC_DRAW);
    gl.enableVertexAttribArray(0);
    gl.vertexAttribPointer(0, 2, gl.FLOAT, false, 0, 0);
    gl.bindTexture(gl.TEXTURE_2D, gl.createTexture());
    // Whole pixels at any store size.
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
    gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA, 640, 480, 0, gl.RGBA, gl.UNSIGNED_BYTE, null);
    Module.screen = { gl: gl, webgl2: gl instanceof WebGL2RenderingContext, width: 0, height: 0 };
    return 2;
  },

  // Whether this browser draws WebGL without a graphics card (a blocked or
  // missing driver). Its compositor then works in software too, and reads every
  // WebGL frame back from the renderer: several times the cost of a 2D canvas,
  // which it takes as it is. Asked of a canvas of its own, since a canvas that
  // has had one kind of context can have no other.
  $webGlInSoftware: function () {
    const gl = document.createElement("canvas").getContext("webgl");
    if (!gl) return false;
    const info = gl.getExtension("WEBGL_debug_renderer_info");
    const name = String(gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER));
    const lose = gl.getExtension("WEBGL_lose_context");
    if (lose) lose.loseContext();
    return /swiftshader|llvmpipe|softpipe|software|basic render/i.test(name);
  },

  // The frame's packed words, uploaded as they lie, drawn over the whole store.
  // WebGL 2 reads them from the memory itself: no view made per frame.
  DrawWords: function (words, width, height) {
    const screen = Module.screen;
    const gl = screen.gl;
    if (screen.webgl2)
      gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, HEAPU8,
        words);
    else
      gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE,
        HEAPU8.subarray(words, words + width * height * 4));
    if (screen.width !== gl.drawingBufferWidth || screen.height !== gl.drawingBufferHeight) {
      screen.width = gl.drawingBufferWidth;
      screen.height = gl.drawingBufferHeight;
      gl.viewport(0, 0, screen.width, screen.height);
    }
    gl.drawArrays(gl.TRIANGLES, 0, 3);
  },

  // RGBA bytes onto the 2D canvas, by whole pixels where its store is larger.
  DrawRgba: function (rgba, width, height) {
    const screen = Module.screen;
    // A grown memory is a new buffer: a view of the old one is empty.
    if (!screen.image || screen.image.data.buffer !== HEAPU8.buffer) {
      const bytes = new Uint8ClampedArray(HEAPU8.buffer, rgba, width * height * 4);
      screen.image = new ImageData(bytes, width, height);
    }
    const canvas = screen.context.canvas;
    if (canvas.width === width && canvas.height === height) {
      screen.context.putImageData(screen.image, 0, 0);
      return;
    }
    screen.stage.getContext("2d").putImageData(screen.image, 0, 0);
    screen.context.imageSmoothingEnabled = false;
    screen.context.drawImage(screen.stage, 0, 0, canvas.width, canvas.height);
  },
});
