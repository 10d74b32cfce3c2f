// The texts the client sends to the Discord desktop client and the token
// endpoint, keys in the order Discord's own libraries write them.
#pragma once

#include <cstdint>
#include <string>

// The five channel events subscribed for every newly selected channel, in
// the order they are sent.
extern const char* const kChannelEvents[5];

std::string HandshakeText(const std::string& clientId);
std::string AuthorizeText(const std::string& clientId, int32_t nonce);
std::string AuthenticateText(const std::string& accessToken, int32_t nonce);
std::string SubscribeVoiceChannelSelectText(int32_t nonce);
std::string GetSelectedVoiceChannelText(int32_t nonce);
// cmd "SUBSCRIBE" or "UNSUBSCRIBE" for one of kChannelEvents in one channel.
std::string ChannelEventText(const char* cmd, const std::string& evt, const std::string& channelId, int32_t nonce);
// The form body of the OAuth2 code-for-token request.
std::string TokenRequestBody(const std::string& clientId, const std::string& clientSecret, const std::string& code);
