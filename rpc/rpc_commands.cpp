#include "rpc/rpc_commands.h"

#include "app/json.h"

const char* const kChannelEvents[5] = {"VOICE_STATE_CREATE", "VOICE_STATE_UPDATE", "VOICE_STATE_DELETE",
                                       "SPEAKING_START", "SPEAKING_STOP"};

namespace {

// Values from the configuration or Discord go in through the JSON writer, so
// a stray quote cannot break the text.
std::string Quoted(const std::string& value) { return FormatJson(Json(value)); }

std::string NonceTail(int32_t nonce) { return "\"nonce\":\"" + std::to_string(nonce) + "\"}"; }

}  // namespace

std::string HandshakeText(const std::string& clientId) { return "{\"v\":1,\"client_id\":" + Quoted(clientId) + "}"; }

std::string AuthorizeText(const std::string& clientId, int32_t nonce) {
  // "prompt":"none": Discord shows its consent dialog only to a user who has
  // not yet authorized the application.
  return "{\"cmd\":\"AUTHORIZE\",\"args\":{\"client_id\":" + Quoted(clientId) +
         ",\"scopes\":[\"rpc\",\"rpc.voice.read\"],\"prompt\":\"none\"}," + NonceTail(nonce);
}

std::string AuthenticateText(const std::string& accessToken, int32_t nonce) {
  return "{\"cmd\":\"AUTHENTICATE\",\"args\":{\"access_token\":" + Quoted(accessToken) + "}," + NonceTail(nonce);
}

std::string SubscribeVoiceChannelSelectText(int32_t nonce) {
  return "{\"cmd\":\"SUBSCRIBE\",\"evt\":\"VOICE_CHANNEL_SELECT\"," + NonceTail(nonce);
}

std::string GetSelectedVoiceChannelText(int32_t nonce) {
  return "{\"cmd\":\"GET_SELECTED_VOICE_CHANNEL\",\"args\":{}," + NonceTail(nonce);
}

std::string ChannelEventText(const char* cmd, const std::string& evt, const std::string& channelId, int32_t nonce) {
  return std::string("{\"cmd\":\"") + cmd + "\",\"evt\":" + Quoted(evt) + ",\"args\":{\"channel_id\":" +
         Quoted(channelId) + "}," + NonceTail(nonce);
}

std::string TokenRequestBody(const std::string& clientId, const std::string& clientSecret, const std::string& code) {
  return "client_id=" + clientId + "&client_secret=" + clientSecret + "&grant_type=authorization_code" +
         "&code=" + code;
}
