-- zem_reader: the role dashboards log in as. It reads the history's views
-- (zem_interface, zem_runs, zem_points, zem_yield_daily, zem_point_failures)
-- and nothing else: the views run with their owner's rights, so no table
-- beneath them is granted.
--
-- Run it as a superuser, connected to the history's database, once the
-- history has been opened by a zem-tools program of schema version 3 or
-- later (that creates the views), e.g.
--   sudo -u postgres psql -d zem_history -f /usr/share/zem-tools/sql/reader_role.sql
-- then give the role a password to log in with:
--   ALTER ROLE zem_reader LOGIN PASSWORD 'choose-one';
-- Running it again changes nothing.

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'zem_reader') THEN
        CREATE ROLE zem_reader NOLOGIN;
    END IF;
END
$$;

-- Whatever was granted before: nothing of the tables, and no temporary
-- tables (which every role may make unless the database says otherwise).
REVOKE ALL ON schema_version, runs, points, point_days, reference_curves FROM zem_reader;
DO $$
BEGIN
    EXECUTE format('REVOKE TEMPORARY ON DATABASE %I FROM PUBLIC', current_database());
END
$$;

GRANT USAGE ON SCHEMA public TO zem_reader;
GRANT SELECT ON zem_interface, zem_runs, zem_points, zem_yield_daily, zem_point_failures
    TO zem_reader;
