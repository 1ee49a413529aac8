// Decodes H.264 pictures with tinyh264 (WebAssembly) off the page's thread, in arrival order;
// each message answers one picture, with its planes (I420) when one came out.
/* global Module, TinyH264Decoder */
importScripts('tinyh264.js');
var decoder = null;
var queue = [];
var picture = null;

function decode(message) {
  picture = null;
  decoder.decode(new Uint8Array(message.data));
  if (picture) postMessage({ data: picture.data.buffer, width: picture.width, height: picture.height,
                             timestamp: message.timestamp }, [picture.data.buffer]);
  else postMessage({ data: null });
}

Module().then(function (tinyH264) {
  decoder = new TinyH264Decoder(tinyH264, function (output, width, height) {
    picture = { data: output, width: width, height: height };
  });
  queue.splice(0).forEach(decode);
});

onmessage = function (event) {
  if (decoder) decode(event.data);
  else queue.push(event.data);
};
