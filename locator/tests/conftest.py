def pytest_configure(config):
    config.addinivalue_line("markers", "slow: real-time test of a minute or so")
