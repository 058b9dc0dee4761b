// A running server with the requests of an upload as one call each: whole files, tickets, and the
// resume protocol's questions and slices. UploadOnBothBodyPaths runs its tests once for each way a raw
// body travels from the socket to the file.
#pragma once

#include "server/PartialFile.h"
#include "tests/server/ServerFixture.h"

#include <nlohmann/json.hpp>

namespace ferrylantern::test {

class Upload : public ServerTest
{
protected:
    void SetUp() override { startServer(options()); }
    virtual ServerOptions options() const { return {}; }

    HttpReply upload(std::string_view query, std::string_view body, std::string_view headerLines = "")
    {
        return post("/v1/upload?" + std::string(query), body,
                    "Content-Type: application/octet-stream\r\n" + std::string(headerLines));
    }

    std::string ticketFor(std::string_view name, std::size_t size)
    {
        const auto reply = post("/v1/upload/preflight?filename=" + std::string(name) +
                                    "&byteCount=" + std::to_string(size) + "&device=Phone",
                                "");
        EXPECT_EQ(reply.status, 200) << reply.body;
        return nlohmann::json::parse(reply.body).value("uploadId", "");
    }

    std::filesystem::path phoneFolder() const { return saveFolder.path() / "Phone"; }

    // Sends the head and the first `sent` bytes of `body`, and leaves the connection open.
    std::unique_ptr<TestConnection> startUpload(std::string_view query, std::size_t totalSize, std::string_view sent)
    {
        auto connection = std::make_unique<TestConnection>(port);
        connection->send("POST /v1/upload?" + std::string(query) +
                         " HTTP/1.1\r\nContent-Length: " + std::to_string(totalSize) + "\r\n\r\n");
        connection->send(sent);
        return connection;
    }

    bool waitForStarted(std::size_t count)
    {
        return eventually([&] { return eventsOf<UploadStarted>(owner.events()).size() >= count; });
    }

    HttpReply resume(const std::string& ticket, std::string_view headerLines = "")
    {
        return get("/v1/upload/resume?uploadId=" + ticket, headerLines);
    }

    HttpReply slice(const std::string& name, const std::string& ticket, std::int64_t offset, std::string_view body,
                    std::string_view headerLines = "")
    {
        return upload("filename=" + name + "&device=Phone&uploadId=" + ticket + "&offset=" + std::to_string(offset),
                      body, headerLines);
    }

    // Sends the head and the first `sent` bytes of a whole-file upload with `ticket`, then drops the
    // connection as a phone leaving the Wi-Fi does, and waits until the server has let go of it.
    void cutAfter(const std::string& name, const std::string& ticket, const std::string& content, std::size_t sent)
    {
        auto connection = startUpload("filename=" + name + "&device=Phone&uploadId=" + ticket, content.size(),
                                      content.substr(0, sent));
        ASSERT_TRUE(eventually([&] {
            const auto reply = resume(ticket);
            return reply.status == 200 && nlohmann::json::parse(reply.body).value("offset", 0) > 0;
        }));
        connection->abort();
        ASSERT_TRUE(eventually([&] { return server->activeConnectionCount() == 0; }));
    }

    std::int64_t offsetOf(const HttpReply& reply)
    {
        EXPECT_EQ(reply.status, 200) << reply.body;
        return reply.status == 200 ? nlohmann::json::parse(reply.body).value("offset", std::int64_t{-1}) : -1;
    }

    std::vector<std::string> partialFiles() const
    {
        std::vector<std::string> found;
        for (const auto& entry : entriesUnder(saveFolder.path())) {
            if (isPartialFileName(std::filesystem::path(entry).filename().string())) {
                found.push_back(entry);
            }
        }
        return found;
    }
};

class UploadOnBothBodyPaths : public Upload, public ::testing::WithParamInterface<RawBodyTransfer>
{
protected:
    ServerOptions options() const override
    {
        ServerOptions options;
        options.rawBodyTransfer = GetParam();
        return options;
    }
};

} // namespace ferrylantern::test
