// H.264 on the viewer page. The studio names its video codec in the stream's program table
// (PMT stream type 0x1b); from then on JSMpeg's demuxer hands each H.264 picture here instead of
// to its MPEG-1 decoder, and its MP2 audio path stays as it is. Pictures are decoded on arrival
// with WebCodecs where the page has it (secure contexts: https, or http on 127.0.0.1), else with
// the tinyh264 WebAssembly decoder in a Worker; only the newest is drawn. A browser with neither
// says so in words. Classic script (see common.js).
(function () {
  'use strict';
  var PACKET = 188;
  var VIDEO_STREAM = 0xe0;
  var H264 = 0x1b;
  var VIDEO_TYPES = { 0x01: 'mpeg1', 0x02: 'mpeg1', 0x1b: 'h264' };

  // The codec named by the latest PMT that lists a video stream; null until one came.
  function TableReader() {
    this.pmtPids = {};
    this.codec = null;
  }
  TableReader.prototype.read = function (data) {
    var bytes = new Uint8Array(data);
    for (var at = 0; at + PACKET <= bytes.length; at += PACKET) {
      if (bytes[at] !== 0x47 || !(bytes[at + 1] & 0x40)) continue;
      var pid = ((bytes[at + 1] & 0x1f) << 8) | bytes[at + 2];
      if (pid !== 0 && !this.pmtPids[pid]) continue;
      var p = at + 4;
      if (bytes[at + 3] & 0x20) p += 1 + bytes[at + 4];
      p += 1 + bytes[p];
      var end = Math.min(at + PACKET, p + 3 + (((bytes[p + 1] & 0x0f) << 8) | bytes[p + 2])) - 4;
      if (pid === 0 && bytes[p] === 0x00) {
        for (var e = p + 8; e + 4 <= end; e += 4)
          if ((bytes[e] << 8 | bytes[e + 1]) !== 0) this.pmtPids[((bytes[e + 2] & 0x1f) << 8) | bytes[e + 3]] = true;
      } else if (bytes[p] === 0x02) {
        var s = p + 12 + (((bytes[p + 10] & 0x0f) << 8) | bytes[p + 11]);
        for (; s + 5 <= end; s += 5 + (((bytes[s + 3] & 0x0f) << 8) | bytes[s + 4]))
          if (VIDEO_TYPES[bytes[s]]) this.codec = VIDEO_TYPES[bytes[s]];
      }
    }
    return this.codec;
  };

  function concat(buffers) {
    var size = 0;
    buffers.forEach(function (b) { size += b.byteLength; });
    var out = new Uint8Array(size);
    var at = 0;
    buffers.forEach(function (b) { out.set(b, at); at += b.byteLength; });
    return out;
  }

  // NAL unit types in an Annex B access unit, and the first SPS's payload.
  function nalInfo(au) {
    var info = { idr: false, sps: null };
    var spsAt = -1;
    for (var i = 0; i + 3 < au.length; ++i) {
      if (au[i] !== 0 || au[i + 1] !== 0 || au[i + 2] !== 1) continue;
      if (spsAt >= 0 && !info.sps) info.sps = au.subarray(spsAt, au[i - 1] === 0 ? i - 1 : i);
      var type = au[i + 3] & 0x1f;
      if (type === 5) info.idr = true;
      if (type === 7 && spsAt < 0) spsAt = i + 4;
      i += 2;
    }
    if (spsAt >= 0 && !info.sps) info.sps = au.subarray(spsAt);
    return info;
  }

  // The picture size a Baseline SPS announces, cropping applied (the coded size is whole
  // macroblocks: 960x540 is coded as 960x544); null for what it cannot read.
  function spsSize(sps) {
    var bytes = [];
    for (var i = 0; i < sps.length; ++i) {
      if (i >= 2 && sps[i] === 3 && sps[i - 1] === 0 && sps[i - 2] === 0) continue;
      bytes.push(sps[i]);
    }
    var bit = 24; // profile, constraints, level
    function u(n) {
      var v = 0;
      for (var k = 0; k < n; ++k, ++bit) v = (v << 1) | ((bytes[bit >> 3] >> (7 - (bit & 7))) & 1);
      return v;
    }
    function ue() {
      var zeros = 0;
      while (bit < bytes.length * 8 && !u(1)) ++zeros;
      return (1 << zeros) - 1 + u(zeros);
    }
    if (bytes[0] !== 66) return null;
    ue(); // seq_parameter_set_id
    ue(); // log2_max_frame_num_minus4
    var pocType = ue();
    if (pocType === 0) ue();
    else if (pocType === 1) return null;
    ue(); // max_num_ref_frames
    u(1);
    var width = (ue() + 1) * 16;
    var mapUnits = ue() + 1;
    var frameMbsOnly = u(1);
    var height = mapUnits * 16 * (2 - frameMbsOnly);
    if (!frameMbsOnly) u(1);
    u(1); // direct_8x8_inference
    if (u(1)) {
      var left = ue(), right = ue(), top = ue(), bottom = ue();
      width -= 2 * (left + right);
      height -= 2 * (2 - frameMbsOnly) * (top + bottom);
    }
    return bit <= bytes.length * 8 ? { width: width, height: height } : null;
  }

  function hex(byte) { return (byte < 16 ? '0' : '') + byte.toString(16); }

  // Draws decoded pictures on a canvas of its own in place of JSMpeg's, which may hold a WebGL
  // context; a VideoFrame draws on a 2D canvas without a colour conversion in script.
  function FrameDrawer() {
    var old = document.getElementById('video');
    this.canvas = old.cloneNode(false);
    old.parentNode.replaceChild(this.canvas, old);
    this.context = this.canvas.getContext('2d');
  }
  FrameDrawer.prototype.draw = function (frame) {
    if (this.canvas.width !== frame.displayWidth || this.canvas.height !== frame.displayHeight) {
      this.canvas.width = frame.displayWidth;
      this.canvas.height = frame.displayHeight;
    }
    this.context.drawImage(frame, 0, 0);
  };

  function unsupported(reason) {
    var stage = document.getElementById('stage');
    var note = document.createElement('p');
    note.id = 'codec-note';
    note.setAttribute('role', 'alert');
    note.style.cssText = 'position:absolute;inset:0;margin:0;display:flex;align-items:center;' +
      'justify-content:center;padding:24px;text-align:center;font-size:18px;background:#000;';
    note.textContent = 'This browser cannot show the H.264 picture (' + reason + '). Open the ' +
      'page in a current Chrome, Edge, Firefox or Safari, or ask the presenter to choose MPEG-1.';
    stage.appendChild(note);
  }

  // The sink JSMpeg's demuxer writes H.264 pictures to: `stats` are the page's own counters.
  function H264Sink(stats) {
    this.stats = stats;
    this.keyed = false;
    this.path = null;
    this.pendingAtWorker = 0;
  }
  H264Sink.prototype.start = function () {
    if (typeof VideoDecoder === 'function') this.startWebCodecs();
    else if (typeof Worker === 'function' && typeof WebAssembly === 'object' &&
             typeof VideoFrame === 'function') this.startWorker();
    else {
      this.path = 'none';
      unsupported('no WebCodecs and no WebAssembly video decoding');
    }
  };
  H264Sink.prototype.startWebCodecs = function () {
    var self = this;
    this.path = 'webcodecs';
    this.drawer = new FrameDrawer();
    this.decoder = new VideoDecoder({
      output: function (frame) { self.decoded(frame); },
      error: function () { self.keyed = false; self.startWebCodecs(); }
    });
  };
  H264Sink.prototype.startWorker = function () {
    var self = this;
    this.path = 'wasm';
    this.drawer = new FrameDrawer();
    this.worker = new Worker('h264worker.js');
    this.worker.onmessage = function (event) {
      var m = event.data;
      self.pendingAtWorker--;
      if (!m.data) { self.decoded(null); return; }
      var size = self.size && self.size.width <= m.width && self.size.height <= m.height
        ? self.size : { width: m.width, height: m.height };
      var frame = new VideoFrame(new Uint8Array(m.data), {
        format: 'I420', codedWidth: m.width, codedHeight: m.height, timestamp: m.timestamp,
        visibleRect: { x: 0, y: 0, width: size.width, height: size.height } });
      self.decoded(frame);
    };
  };
  // A new connection starts a new stream: decoding waits for its first IDR picture.
  H264Sink.prototype.reset = function () { this.keyed = false; };
  H264Sink.prototype.write = function (pts, buffers) {
    var au = concat(buffers);
    var info = nalInfo(au);
    if (!this.keyed && !info.idr) return;
    var stats = this.stats;
    if (this.path === 'webcodecs') {
      if (!this.keyed || this.decoder.state !== 'configured') {
        if (!info.sps) return;
        this.decoder.configure({ codec: 'avc1.' + hex(info.sps[0]) + hex(info.sps[1]) + hex(info.sps[2]),
                                 optimizeForLatency: true });
      }
      this.decoder.decode(new EncodedVideoChunk({ type: info.idr ? 'key' : 'delta',
        timestamp: Math.round(pts * 1e6), data: au }));
    } else if (this.path === 'wasm') {
      if (info.sps) this.size = spsSize(info.sps);
      this.pendingAtWorker++;
      this.worker.postMessage({ data: au.buffer, timestamp: Math.round(pts * 1e6) }, [au.buffer]);
    } else {
      return;
    }
    this.keyed = true;
    stats.videoArrived++;
    stats.pendingFrames++;
  };
  // Each picture counts as decoded; only the newest of a backlog is drawn, and a joiner's first.
  H264Sink.prototype.decoded = function (frame) {
    var stats = this.stats;
    stats.videoDecoded++;
    stats.pendingFrames = Math.max(0, stats.pendingFrames - 1);
    if (!frame) return;
    var waiting = this.path === 'webcodecs' ? this.decoder.decodeQueueSize : this.pendingAtWorker;
    if ((!stats.framesShown || waiting === 0) && !document.hidden) {
      this.drawer.draw(frame);
      stats.framesShown++;
      var now = performance.now();
      if (!stats.firstPictureAt) stats.firstPictureAt = now;
      if (!stats.liveAt && stats.pendingFrames <= 2) stats.liveAt = now;
    }
    frame.close();
  };

  // Watches what the stream socket brings; when its table names H.264, the demuxer's video
  // stream goes to an H.264 sink from then on.
  function attach(player, stats) {
    var tables = new TableReader();
    var sink = null;
    return {
      inspect: function (data) {
        if (tables.read(data) === 'h264' && !sink && player.demuxer) {
          sink = new H264Sink(stats);
          sink.start();
          player.demuxer.connect(VIDEO_STREAM, sink);
          stats.codec = 'h264';
          stats.decoderPath = sink.path;
        }
      },
      reset: function () { if (sink) sink.reset(); }
    };
  }

  window.LumacastH264 = { attach: attach, TableReader: TableReader, spsSize: spsSize,
                          H264_STREAM_TYPE: H264 };
})();
