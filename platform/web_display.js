// The JavaScript half of web_display.cpp: the page's canvas, drawn through WebGL
// where a graphics card draws it, else through a 2D canvas. Its state is Module.screen.
mergeInto(LibraryManager.library, {
  // 2 for WebGL, 1 for a 2D canvas, 0 when the canvas takes neither.
  OpenCanvas: function () {
    // WebGL drawn without a graphics card has the compositor read every frame back, several
    // times the cost of a 2D canvas. Asked of a canvas of its own: a canvas takes one kind of context.
    const probe = document.createElement("canvas").getContext("webgl");
    const info = probe && probe.getExtension("WEBGL_debug_renderer_info");
    const renderer = probe ? String(probe.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : probe.RENDERER)) : "";
    const lose = probe && probe.getExtension("WEBGL_lose_context");
    if (lose) lose.loseContext();
    const software = /swiftshader|llvmpipe|softpipe|software|basic render/i.test(renderer);
    const canvas = Module.canvas;
    const options = { alpha: false, antialias: false, depth: false, stencil: false };
    const gl = software ? null : canvas.getContext("webgl2", options) || canvas.getContext("webgl", options);
    if (!gl) {
      Module.screen = { context: canvas.getContext("2d", { alpha: false }) };
      return Module.screen.context ? 1 : 0;
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
    // Texel for pixel, and WebGL 1 takes a texture of 640 × 480 only unfiltered and clamped.
    for (const name of [gl.TEXTURE_MIN_FILTER, gl.TEXTURE_MAG_FILTER]) gl.texParameteri(gl.TEXTURE_2D, name, gl.NEAREST);
    for (const name of [gl.TEXTURE_WRAP_S, gl.TEXTURE_WRAP_T]) gl.texParameteri(gl.TEXTURE_2D, name, gl.CLAMP_TO_EDGE);
    gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA, 640, 480, 0, gl.RGBA, gl.UNSIGNED_BYTE, null);
    const webgl2 = gl instanceof WebGL2RenderingContext;
    if (webgl2) gl.pixelStorei(gl.UNPACK_ROW_LENGTH, 640); // an area's rows lie a frame row apart
    Module.screen = { gl: gl, webgl2: webgl2 };
    return 2;
  },

  // The frame's packed words in the changed areas (x, y, width, height each),
  // uploaded as they lie, then drawn: WebGL 2 reads an area's rows from the
  // memory itself, WebGL 1 takes whole rows.
  DrawWords: function (words, areas, count) {
    const gl = Module.screen.gl;
    for (let at = areas >> 2; at < (areas >> 2) + 4 * count; at += 4) {
      const x = HEAP32[at], y = HEAP32[at + 1], width = HEAP32[at + 2], height = HEAP32[at + 3];
      if (Module.screen.webgl2)
        gl.texSubImage2D(gl.TEXTURE_2D, 0, x, y, width, height, gl.RGBA, gl.UNSIGNED_BYTE, HEAPU8, words + (y * 640 + x) * 4);
      else
        gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, y, 640, height, gl.RGBA, gl.UNSIGNED_BYTE,
          HEAPU8.subarray(words + y * 640 * 4, words + (y + height) * 640 * 4));
    }
    gl.drawArrays(gl.TRIANGLES, 0, 3);
  },

  // The RGBA bytes of the changed areas onto the 2D canvas.
  DrawRgba: function (rgba, areas, count) {
    const screen = Module.screen;
    // A grown memory is a new buffer: a view of the old one is empty.
    if (!screen.image || screen.image.data.buffer !== HEAPU8.buffer)
      screen.image = new ImageData(new Uint8ClampedArray(HEAPU8.buffer, rgba, 640 * 480 * 4), 640, 480);
    for (let at = areas >> 2; at < (areas >> 2) + 4 * count; at += 4)
      screen.context.putImageData(screen.image, 0, 0, ...HEAP32.subarray(at, at + 4));
  },
});
